#include "pic/byte_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "tests/test_support.h"

namespace {

Bytes Counting(size_t size)
{
    Bytes bytes(size);
    for (size_t index = 0; index < size; ++index)
        bytes[index] = uint8_t(index * 7 + index / 251);
    return bytes;
}

class ByteSourceTest : public ::testing::Test {
protected:
    void Open(const Bytes& bytes)
    {
        content = bytes;
        WriteFileBytes(dir.File("in"), bytes);
        file = std::fopen(dir.File("in").c_str(), "rb");
        ASSERT_NE(file, nullptr);
    }
    void TearDown() override
    {
        if (file != nullptr)
            std::fclose(file);
    }

    TempDir dir;
    Bytes content;
    FILE* file = nullptr;
};

} // namespace

TEST_F(ByteSourceTest, HandsOutTheBytesThenMinusOne)
{
    Open(Bytes{0x00, 0xFF, 0x80});
    PicByteSource source(file);
    EXPECT_EQ(source.Next(), 0x00);
    EXPECT_EQ(source.Next(), 0xFF);
    EXPECT_EQ(source.Next(), 0x80);
    EXPECT_EQ(source.Next(), -1);
    EXPECT_EQ(source.Next(), -1);
}

TEST_F(ByteSourceTest, ReadFilledPadsWith255PastTheEnd)
{
    Open(Counting(70000));
    PicByteSource source(file);
    Bytes out(69990);
    EXPECT_EQ(source.ReadFilled(out.data(), out.size()), out.size());
    EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin()));
    Bytes tail(25, 0);
    EXPECT_EQ(source.ReadFilled(tail.data(), tail.size()), 10u);
    EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 10, content.end() - 10));
    EXPECT_EQ(tail[10], 255);
    EXPECT_EQ(tail[24], 255);
    EXPECT_EQ(source.Next(), -1);
}

// Whatever reads the stream after Release (or after the source is gone)
// starts right after the last byte handed out, wherever that lies in the
// buffer and whether or not the end of the file was met.
TEST_F(ByteSourceTest, ReleaseLeavesTheStreamAfterTheLastByteHandedOut)
{
    constexpr size_t kUsual = PicByteSource::kBufferSize;
    const struct {
        size_t fileSize;
        size_t start;
        size_t consumed;
        bool byDestructor;
        size_t bufferSize;
    } cases[] = {
        {10, 0, 0, false, kUsual},         {10, 0, 3, false, kUsual},
        {10, 0, 10, false, kUsual},        {10, 0, 14, false, kUsual},
        {100000, 0, 1, false, kUsual},     {100000, 0, 65535, false, kUsual},
        {100000, 0, 65536, false, kUsual}, {100000, 0, 65537, false, kUsual},
        {100000, 0, 99999, true, kUsual},  {100000, 0, 100000, false, kUsual},
        {100000, 5, 70000, true, kUsual},  {100000, 99990, 20, false, kUsual},
        {0, 0, 1, false, kUsual},          {1000, 3, 500, false, 7},
        {1000, 3, 500, true, 1},           {1000, 0, 1001, false, 13},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(::testing::Message()
                     << test.fileSize << " bytes from " << test.start << ", " << test.consumed
                     << " consumed, buffer " << test.bufferSize);
        if (file != nullptr)
            std::fclose(file);
        Open(Counting(test.fileSize));
        std::fseek(file, long(test.start), SEEK_SET);
        {
            PicByteSource source(file, test.bufferSize);
            Bytes out(test.consumed);
            // Half one byte at a time, half in bulk.
            for (size_t index = 0; index < test.consumed / 2; ++index)
                out[index] = uint8_t(source.Next());
            source.ReadFilled(out.data() + test.consumed / 2, test.consumed - test.consumed / 2);
            const size_t real = std::min(test.consumed, test.fileSize - test.start);
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + long(real),
                                   content.begin() + long(test.start)));
            if (!test.byDestructor) {
                EXPECT_EQ(source.Release(), 1);
            }
        }
        const size_t expected = std::min(test.start + test.consumed, test.fileSize);
        EXPECT_EQ(std::ftell(file), long(expected));
        const int next = std::getc(file);
        EXPECT_EQ(next, expected < test.fileSize ? content[expected] : EOF);
    }
}

TEST_F(ByteSourceTest, ReadsOnAfterRelease)
{
    Open(Counting(200000));
    PicByteSource source(file);
    Bytes skipped(100000);
    source.ReadFilled(skipped.data(), skipped.size());
    EXPECT_EQ(source.Release(), 1);
    EXPECT_EQ(source.Next(), content[100000]);
    EXPECT_EQ(source.Release(), 1);
    EXPECT_EQ(std::ftell(file), 100001);
}

// Fill keeps the unread bytes when it reads more behind them.
TEST_F(ByteSourceTest, FillKeepsUnreadBytesAcrossTheBufferEnd)
{
    Open(Counting(3 * PicByteSource::kBufferSize));
    PicByteSource source(file);
    const size_t consumed = PicByteSource::kBufferSize - 10;
    ASSERT_EQ(source.Fill(consumed), PicByteSource::kBufferSize);
    source.Skip(consumed);
    EXPECT_EQ(source.Buffered(), 10u);
    ASSERT_GE(source.Fill(400), 400u);
    EXPECT_TRUE(std::equal(source.Data(), source.Data() + 400, content.begin() + long(consumed)));
    source.Skip(400);
    EXPECT_EQ(source.Release(), 1);
    EXPECT_EQ(std::ftell(file), long(consumed + 400));
}

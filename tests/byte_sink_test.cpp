#include "pic/byte_sink.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/test_support.h"

namespace {

Bytes Counting(size_t size, uint8_t step)
{
    Bytes bytes(size);
    for (size_t index = 0; index < size; ++index)
        bytes[index] = uint8_t(index * step);
    return bytes;
}

} // namespace

// Bytes come out in the order written, whichever call wrote them and
// wherever they meet the end of the buffer.
TEST(ByteSink, KeepsTheOrderAcrossTheBuffer)
{
    TempDir dir;
    FILE* file = std::fopen(dir.File("out").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    Bytes expected;
    {
        PicByteSink sink(file);
        for (size_t fill : {size_t(100), PicByteSink::kBufferSize - 101, size_t(3),
                            PicByteSink::kBufferSize * 2 + 5, size_t(0), size_t(7)}) {
            const Bytes block = Counting(fill, uint8_t(fill | 1));
            EXPECT_TRUE(sink.Put(block.data(), block.size()));
            expected.insert(expected.end(), block.begin(), block.end());
            const uint8_t small[3] = {1, 2, 3};
            EXPECT_TRUE(sink.Put(small, sizeof small));
            expected.insert(expected.end(), small, small + 3);
        }
        EXPECT_EQ(sink.Ok(), 1);
        EXPECT_EQ(sink.Flush(), 1);
        const uint8_t last = 0xCD; // written by the destructor
        sink.Put(&last, 1);
        expected.push_back(last);
    }
    std::fclose(file);
    EXPECT_EQ(ReadFileBytes(dir.File("out")), expected);
}

// A failed write is remembered, whether it happened while draining the
// buffer or in a direct write of a large block.
TEST(ByteSink, RemembersAFailedWrite)
{
    TempDir dir;
    WriteFileBytes(dir.File("in"), Bytes{1, 2, 3});
    for (size_t size : {size_t(10), PicByteSink::kBufferSize * 2}) {
        FILE* file = std::fopen(dir.File("in").c_str(), "rb");
        ASSERT_NE(file, nullptr);
        {
            PicByteSink sink(file);
            const Bytes block(size, 9);
            // A large block fails at once; a small one when it is flushed.
            EXPECT_EQ(sink.Put(block.data(), block.size()), size < PicByteSink::kBufferSize);
            EXPECT_EQ(sink.Flush(), 0);
            EXPECT_EQ(sink.Ok(), 0);
            EXPECT_FALSE(sink.Put(block.data(), 1));
        }
        std::fclose(file);
    }
}

#ifndef _WIN32
// A full device takes the stream's buffered writes and fails only when they
// reach it: Flush must still report that.
TEST(ByteSink, ReportsAFullDevice)
{
    FILE* file = std::fopen("/dev/full", "wb");
    if (file == nullptr)
        GTEST_SKIP() << "no /dev/full";
    {
        PicByteSink sink(file);
        const uint8_t one = 1;
        sink.Put(&one, 1);
        EXPECT_EQ(sink.Flush(), 0);
    }
    std::fclose(file);
}
#endif

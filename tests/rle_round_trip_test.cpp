#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "pic/byte_source.h"
#include "pic/cpu_vectors.h"
#include "pic/rle_codec.h"
#include "tests/test_support.h"

namespace {

constexpr int kWidestRow = 32767;

// One row of one or three channels, with its width.
struct Row {
    int width = 0;
    Bytes channels[3];
};

// A cheap row for width w whose shape moves with w: a literal stretch of
// w % 300 pixels (cut at 128s), then one run over most of the row (of any
// length from 0 up, so 1, 2, 127, 128 and 32767 all occur), then a tail of
// up to 6 pixels that ends in literals, in runs of 2, or in the long run.
// Green and blue differ from red in a pixel now and then, so that colour
// runs break on one channel alone.
void MakeShapedRow(int width, int channelCount, Row& row)
{
    row.width = width;
    const int head = width % 300;
    const int tail = std::min((width / 300) % 7, width - head);
    const int tailKind = width % 3;
    for (int channel = 0; channel < channelCount; ++channel) {
        Bytes& values = row.channels[channel];
        values.assign(size_t(width), 0x40);
        for (int index = 0; index < head; ++index)
            values[size_t(index)] = uint8_t(index % 2 + 1 + (channel == 1 && index % 5 == 0));
        for (int index = width - tail; index < width; ++index) {
            const int offset = index - (width - tail);
            if (tailKind == 0)
                values[size_t(index)] = uint8_t(0x80 + offset);
            else if (tailKind == 1)
                values[size_t(index)] = uint8_t(0x90 + offset / 2);
        }
        if (channel == 2 && width > head + 1)
            values[size_t(head + (width - head) / 2)] = 0x41;
    }
}

// Random runs and literal stretches, with byte 255 and colour pixels that
// differ in one channel only.
void MakeRandomRow(std::mt19937& random, int width, int channelCount, Row& row)
{
    row.width = width;
    for (int channel = 0; channel < channelCount; ++channel)
        row.channels[channel].assign(size_t(width), 0);
    int position = 0;
    while (position < width) {
        const int length = std::min(width - position, int(random() % 400) + 1);
        const bool run = random() % 2 == 0;
        uint8_t pixel[3] = {uint8_t(random()), uint8_t(random()), 255};
        for (int index = position; index < position + length; ++index) {
            if (!run) {
                pixel[random() % 3] = uint8_t(random() % 4 + 254);
            }
            for (int channel = 0; channel < channelCount; ++channel)
                row.channels[channel][size_t(index)] = pixel[channel];
        }
        position += length;
    }
}

// Appends the row encoded into a buffer of exactly the largest size a row
// may take, and answers the encoded size.
ptrdiff_t EncodeInMemory(const Row& row, int channelCount, Bytes& out)
{
    Bytes buffer(channelCount == 1 ? MaxEncodedChannelRow(row.width) : MaxEncodedRgbRow(row.width));
    const ptrdiff_t size =
        channelCount == 1 ? EncodeChannelRow(buffer.data(), row.channels[0].data(), row.width)
                          : EncodeRgbRow(buffer.data(), row.channels[0].data(),
                                         row.channels[1].data(), row.channels[2].data(), row.width);
    if (size < 0)
        return size;
    if (channelCount == 3) {
        // Given the row interleaved as well, the encoder writes the same bytes.
        Bytes rgb;
        for (int x = 0; x < row.width; ++x)
            for (int channel = 0; channel < 3; ++channel)
                rgb.push_back(row.channels[channel][size_t(x)]);
        Bytes again(buffer.size());
        const ptrdiff_t againSize =
            EncodeRgbRow(again.data(), row.channels[0].data(), row.channels[1].data(),
                         row.channels[2].data(), rgb.data(), row.width);
        EXPECT_TRUE(againSize == size &&
                    std::equal(buffer.begin(), buffer.begin() + size, again.begin()));
    }
    out.insert(out.end(), buffer.begin(), buffer.begin() + size);
    return size;
}

int Decode(PicByteSource& source, Row& row, int channelCount)
{
    if (channelCount == 1)
        return DecodeChannelRow(source, row.channels[0].data(), row.width);
    return DecodeRgbRow(source, row.channels[0].data(), row.channels[1].data(),
                        row.channels[2].data(), row.width);
}

// Encodes every row made by `make(index, row)` one after another, through
// the vector paths and the plain ones, which must give the same bytes; then
// decodes them back through a file source with the usual buffer, one with a
// buffer of a few bytes and one over the bytes in memory, checking every row
// and where each row ends.
template <class MakeRow> void RoundTrip(int rowCount, int channelCount, MakeRow make)
{
    std::vector<uint64_t> rowEnds;
    Bytes encoded;
    Bytes plain;
    Row row;
    for (int index = 0; index < rowCount; ++index) {
        make(index, row);
        ASSERT_GE(EncodeInMemory(row, channelCount, encoded), 0);
        ForcePlainPaths(true);
        const ptrdiff_t plainSize = EncodeInMemory(row, channelCount, plain);
        ForcePlainPaths(false);
        ASSERT_GE(plainSize, 0);
        rowEnds.push_back(encoded.size());
    }
    ASSERT_EQ(plain, encoded);

    TempDir dir;
    const std::string path = dir.File("rows");
    WriteFileBytes(path, encoded);
    FILE* sourceFile = std::fopen(path.c_str(), "rb");
    FILE* smallSourceFile = std::fopen(path.c_str(), "rb");
    {
        PicByteSource source(sourceFile);
        PicByteSource smallSource(smallSourceFile, 97);
        PicByteSource memory(encoded.data(), encoded.size());
        Row expected;
        Row decoded;
        for (int index = 0; index < rowCount; ++index) {
            make(index, expected);
            for (PicByteSource* through : {&source, &smallSource, &memory}) {
                decoded.width = expected.width;
                for (int channel = 0; channel < channelCount; ++channel)
                    decoded.channels[channel].assign(size_t(expected.width), 0xEE);
                ASSERT_EQ(Decode(*through, decoded, channelCount), 1) << "row " << index;
                for (int channel = 0; channel < channelCount; ++channel)
                    ASSERT_EQ(decoded.channels[channel], expected.channels[channel])
                        << "row " << index << " channel " << channel;
            }
            ASSERT_EQ(memory.Position(), rowEnds[size_t(index)]) << "row " << index;
        }
        EXPECT_EQ(source.Next(), -1);
        EXPECT_EQ(smallSource.Next(), -1);
    }
    std::fclose(sourceFile);
    std::fclose(smallSourceFile);
}

} // namespace

TEST(RowRoundTrip, ChannelRowsOfEveryWidth)
{
    RoundTrip(kWidestRow, 1, [](int index, Row& row) { MakeShapedRow(index + 1, 1, row); });
}

TEST(RowRoundTrip, RgbRowsOfEveryWidth)
{
    RoundTrip(kWidestRow, 3, [](int index, Row& row) { MakeShapedRow(index + 1, 3, row); });
}

TEST(RowRoundTrip, RandomRows)
{
    for (int channelCount : {1, 3}) {
        RoundTrip(40, channelCount, [channelCount](int index, Row& row) {
            std::mt19937 random(20261207u + unsigned(index * 3 + channelCount));
            const int width = index < 2 ? kWidestRow : int(random() % kWidestRow) + 1;
            MakeRandomRow(random, width, channelCount, row);
        });
    }
}

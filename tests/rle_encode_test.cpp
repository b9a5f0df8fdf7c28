#include <gtest/gtest.h>

#include <algorithm>

#include "pic/cpu_vectors.h"
#include "tests/rle_test_streams.h"

namespace {

struct EncodeCase {
    const char* what;
    const char* row; // pixels; for colour rows three channels split by '|'
    const char* stream;
};

const EncodeCase kChannelCases[] = {
    {"one pixel", "41", "00 41"},
    {"two different", "41 42", "00 41 00 42"},
    {"three different", "41 42 43", "01 41 42 00 43"},
    {"ends in a run", "41 42 43 43", "01 41 42 81 43"},
    {"run of two first", "41 41 42", "81 41 00 42"},
    {"run of two, two literals", "41 41 42 43", "81 41 00 42 00 43"},
    {"run, literal, run", "41 41 41 42 43 44 44", "82 41 01 42 43 81 44"},
    {"run of two amid literals", "01 02 03 03 04 05", "01 01 02 81 03 00 04 00 05"},
    {"run of 127", "07*127", "FE 07"},
    {"run of 128", "07*128", "80 00 80 07"},
    {"run of 129", "07*129", "80 00 81 07"},
    {"run of 300", "07*300", "80 01 2C 07"},
    {"run of 32767", "07*32767", "80 7F FF 07"},
    {"run ends at the last of the first 16 pairs", "07*16 08*40", "8F 07 A7 08"},
    {"run ends at the first pair past 16", "07*17 08*40", "90 07 A7 08"},
    {"run ends inside the first 16-pair vector step", "07*20 08*30", "93 07 9D 08"},
    {"run ends at the last pair of the second vector step", "07*48 08*40", "AF 07 A7 08"},
    {"run ends at the first pair past the second vector step", "07*49 08*40", "B0 07 A7 08"},
    {"run ends at the last pair of a 64-pair block", "07*64 08*40", "BF 07 A7 08"},
    {"run ends at the first pair of the next block", "07*65 08*40", "C0 07 A7 08"},
    {"run to the row's end, one pixel into a block", "07*65", "C0 07"},
    {"run past a 16-bit count", "07*70000", "80 FF FF 07 80 11 71 07"},
    {"run of 65536", "07*65536", "80 FF FF 07 00 07"},
    {"byte 255 is data", "FF FF 80", "81 FF 00 80"},
    {"nothing", "", ""},
};

std::string Alternating(int count, int first, int second)
{
    std::string text;
    for (int index = 0; index < count; ++index)
        text += index % 2 == 0 ? std::to_string(first) + " " : std::to_string(second) + " ";
    return text;
}

void CheckEncoding(const std::vector<Bytes>& channels, const Bytes& expected)
{
    for (bool plain : {false, true}) {
        SCOPED_TRACE(plain ? "plain loops" : "as this CPU");
        ForcePlainPaths(plain);
        const Bytes written = EncodeRow(channels, int(channels[0].size()));
        ForcePlainPaths(false);
        EXPECT_EQ(ToHex(written), ToHex(expected));
    }
}

} // namespace

TEST(EncodeChannelRow, WritesTheWorkedExamples)
{
    for (const EncodeCase& test : kChannelCases) {
        SCOPED_TRACE(test.what);
        CheckEncoding({HexBytes(test.row)}, HexBytes(test.stream));
    }
}

// Rows alternating 00 and 01: a stretch of all but the last pixel, cut into
// packets of 128 (300 pixels: 128, 128 and 43), then the last pixel alone;
// rows that end at, just past and just before the end of 64 pairs among them.
TEST(EncodeChannelRow, CutsLongLiteralStretches)
{
    for (const int width : {63, 64, 65, 66, 129, 300}) {
        SCOPED_TRACE(width);
        Bytes expected;
        for (int left = width - 1; left > 0; left -= 128) {
            const int packet = std::min(left, 128);
            expected.push_back(uint8_t(packet - 1));
            for (int index = 0; index < packet; ++index)
                expected.push_back(uint8_t(index % 2));
        }
        expected.insert(expected.end(), {0x00, uint8_t((width - 1) % 2)});
        CheckEncoding({HexBytes(Alternating(width, 0, 1))}, expected);
    }
}

// A stretch of exactly 128 literal pixels fills one packet; one more
// starts another.
TEST(EncodeChannelRow, LiteralPacketBoundaries)
{
    const struct {
        int stretch;
        const char* counts; // count bytes of the literal packets, then 81 of the closing run
    } cases[] = {
        {127, "7E 81"}, {128, "7F 81"}, {129, "7F 00 81"}, {256, "7F 7F 81"}, {257, "7F 7F 00 81"}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.stretch);
        Bytes row = HexBytes(Alternating(test.stretch, 1, 2));
        const uint8_t closing = row.back() == 1 ? 2 : 1;
        row.insert(row.end(), 2, closing);
        Bytes expected;
        int position = 0;
        for (uint8_t count : HexBytes(test.counts)) {
            expected.push_back(count);
            if (count == 0x81) {
                expected.push_back(closing);
                break;
            }
            for (int index = 0; index <= count; ++index)
                expected.push_back(row[size_t(position++)]);
        }
        CheckEncoding({row}, expected);
    }
}

TEST(EncodeRgbRow, PixelsDifferingInOneChannelAreDifferent)
{
    // P P P Q R R: Q differs from P in red alone.
    CheckEncoding(HexChannels("10 10 10 11 12 12|20 20 20 20 22 22|30 30 30 30 32 32"),
                  HexBytes("82 10 20 30 00 11 20 30 81 12 22 32"));
    // Green alone, then blue alone.
    CheckEncoding(HexChannels("01 01 01|02 03 03|04 04 05"),
                  HexBytes("01 01 02 04 01 03 04 00 01 03 05"));
}

TEST(EncodeRgbRow, WritesRunsAndLiteralsPixelByPixel)
{
    CheckEncoding(HexChannels("10|20|30"), HexBytes("00 10 20 30"));
    CheckEncoding(HexChannels("05*128|06*128|07*128"), HexBytes("80 00 80 05 06 07"));
    CheckEncoding(HexChannels("05*127|06*127|07*127"), HexBytes("FE 05 06 07"));
    CheckEncoding(HexChannels("01 02 02|04 05 05|07 08 08"), HexBytes("00 01 04 07 81 02 05 08"));
    // Blue alone ends a run inside a 16-pixel step.
    CheckEncoding(HexChannels("05*50|06*50|07*19 08*31"), HexBytes("92 05 06 07 9E 05 06 08"));
    CheckEncoding(HexChannels("||"), HexBytes(""));
}

TEST(EncodeRows, NegativeWidthWritesNothingAndFails)
{
    const Bytes row = HexBytes("01 02");
    int result = -1;
    EXPECT_EQ(ToHex(EncodeRow({row}, -1, &result)), "");
    EXPECT_EQ(result, 0);
}

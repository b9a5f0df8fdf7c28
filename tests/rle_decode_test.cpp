#include <gtest/gtest.h>

#include "tests/rle_test_streams.h"

namespace {

struct DecodeCase {
    const char* what;
    const char* stream;
    int width;
    int result;
    const char* values; // the row afterwards; EE where nothing was stored
    long position;      // of the stream after the row
};

const DecodeCase kChannelCases[] = {
    {"literal of one", "00 41", 1, 1, "41", 2},
    {"run, literal, run", "82 41 01 42 43 81 44", 7, 1, "41 41 41 42 43 44 44", 7},
    {"last run past the row", "82 41 01 42 43 81 44", 6, 0, "41 41 41 42 43 EE", 6},
    {"short run of 128", "FF 07", 128, 1, "07*128", 2},
    {"long run of 128", "80 00 80 09", 128, 1, "09*128", 4},
    {"long run of 300", "80 01 2C 09", 300, 1, "09*300", 4},
    {"long run of the widest row", "80 7F FF 09", 32767, 1, "09*32767", 4},
    {"long run of 0 goes on", "80 00 00 05 00 06", 1, 1, "06", 6},
    {"long run of 0x8000", "80 80 00 05", 32767, 0, "EE*32767", 3},
    {"long run of 0xFFFF", "80 FF FF 05", 32767, 0, "EE*32767", 3},
    {"long run past the rest", "00 01 80 00 02 07", 2, 0, "01 EE", 5},
    {"long run up to the end", "00 01 80 00 02 07", 3, 1, "01 07 07", 6},
    {"literal past the row", "00 0A 03 01 02 03 04", 4, 0, "0A EE EE EE", 3},
    {"short run past the row", "81 05", 1, 0, "EE", 1},
    {"byte 255 after the row", "00 41 FF", 1, 1, "41", 2},
    {"run ends the row before 255", "81 41 FF 01", 2, 1, "41 41", 2},
    {"empty file", "", 1, 0, "EE", 0},
    {"end at a count byte", "00 41", 2, 0, "41 EE", 2},
    {"end inside the last literal", "01 41", 2, 1, "41 FF", 2},
    {"end inside an earlier literal", "02 41", 4, 0, "41 FF FF EE", 2},
    {"end at a run's value", "81", 2, 1, "FF FF", 1},
    {"end inside a long-run count", "80 00", 5, 0, "EE*5", 2},
    {"end at a long-run count", "80", 5, 0, "EE*5", 1},
    {"width 0: long run of 0", "80 00 00 05 00", 0, 1, "", 4},
    {"width 0: literal", "00 05", 0, 0, "", 1},
    {"width 0: short run", "81 05", 0, 0, "", 1},
    {"width 0: empty file", "", 0, 0, "", 0},
    {"width 0: long-run count cut short", "80 00", 0, 0, "", 2},
};

const DecodeCase kRgbCases[] = {
    {"run then literal", "81 10 20 30 00 11 21 31", 3, 1, "10 10 11|20 20 21|30 30 31", 8},
    {"literal of two", "01 01 02 03 04 05 06 FF", 2, 1, "01 04|02 05|03 06", 7},
    {"short run of 128", "FF 01 02 03", 128, 1, "01*128|02*128|03*128", 4},
    {"long run of 300", "80 01 2C 01 02 03", 300, 1, "01*300|02*300|03*300", 6},
    {"long run of 0 goes on", "80 00 00 01 02 03 00 04 05 06", 1, 1, "04|05|06", 10},
    {"run past the row", "00 01 02 03 82 04 05 06", 3, 0, "01 EE EE|02 EE EE|03 EE EE", 5},
    {"long run past the row", "80 00 04 01 02 03", 3, 0, "EE*3|EE*3|EE*3", 3},
    {"literal past the row", "02 01 02 03", 2, 0, "EE EE|EE EE|EE EE", 1},
    {"end inside the last pixel", "00 10 20", 1, 1, "10|20|FF", 3},
    {"end inside an earlier literal", "01 10", 3, 0, "10 FF EE|FF FF EE|FF FF EE", 2},
    {"end at a count byte", "00 10 20 30", 2, 0, "10 EE|20 EE|30 EE", 4},
    {"end inside a long-run count", "80 01", 2, 0, "EE EE|EE EE|EE EE", 2},
    {"byte 255 after the row", "00 10 20 30 FF", 1, 1, "10|20|30", 4},
};

void CheckCases(const DecodeCase* cases, size_t count, int channelCount)
{
    for (Reading reading : {Reading::File, Reading::Source}) {
        for (size_t index = 0; index < count; ++index) {
            const DecodeCase& test = cases[index];
            SCOPED_TRACE(std::string(test.what) +
                         (reading == Reading::File ? " (stream)" : " (source)"));
            const DecodedRow row =
                DecodeRows(HexBytes(test.stream), test.width, channelCount, reading)[0];
            EXPECT_EQ(row.result, test.result);
            EXPECT_EQ(row.position, test.position);
            const std::vector<Bytes> expected = HexChannels(test.values);
            ASSERT_EQ(row.channels.size(), expected.size());
            for (size_t channel = 0; channel < expected.size(); ++channel)
                EXPECT_EQ(ToHex(row.channels[channel]), ToHex(expected[channel]))
                    << "channel " << channel;
        }
    }
}

} // namespace

TEST(DecodeChannelRow, DecodesAndFailsAsTheStreamSays)
{
    CheckCases(kChannelCases, std::size(kChannelCases), 1);
}

TEST(DecodeRgbRow, DecodesAndFailsAsTheStreamSays)
{
    CheckCases(kRgbCases, std::size(kRgbCases), 3);
}

// A literal cut short by the end of the file may complete its row; the row
// after it then fails at its first count byte.
TEST(DecodeRows, RowAfterAShortenedLiteralFails)
{
    for (Reading reading : {Reading::File, Reading::Source}) {
        const std::vector<DecodedRow> channelRows = DecodeRows(HexBytes("01 41"), 2, 1, reading, 2);
        EXPECT_EQ(channelRows[0].result, 1);
        EXPECT_EQ(channelRows[1].result, 0);
        EXPECT_EQ(ToHex(channelRows[1].channels[0]), "EE EE");
        const std::vector<DecodedRow> rgbRows = DecodeRows(HexBytes("00 41"), 1, 3, reading, 2);
        EXPECT_EQ(rgbRows[0].result, 1);
        EXPECT_EQ(rgbRows[1].result, 0);
    }
}

// Rows follow one another with nothing between them; each decoder stops
// right after its row's last packet, so the next row starts in the right
// place.
TEST(DecodeRows, ConsecutiveRowsStartRightAfterTheLastPacket)
{
    const Bytes stream = HexBytes("81 FF 00 80  80 00 03 7F  01 7F 00 00 80");
    for (Reading reading : {Reading::File, Reading::Source}) {
        const std::vector<DecodedRow> rows = DecodeRows(stream, 3, 1, reading, 3);
        EXPECT_EQ(ToHex(rows[0].channels[0]), "FF FF 80");
        EXPECT_EQ(rows[0].position, 4);
        EXPECT_EQ(ToHex(rows[1].channels[0]), "7F 7F 7F");
        EXPECT_EQ(rows[1].position, 8);
        EXPECT_EQ(ToHex(rows[2].channels[0]), "7F 00 80");
        EXPECT_EQ(rows[2].position, 13);
    }
}

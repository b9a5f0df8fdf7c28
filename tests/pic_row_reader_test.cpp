#include "pic/pic_row_reader.h"

#include <gtest/gtest.h>

#include "tests/layout_files.h"

namespace {

PicRowsCheck CheckBytes(const Bytes& bytes)
{
    PicByteSource source(bytes.data(), bytes.size());
    PicHeader header;
    std::vector<PicChannelPacket> packets;
    EXPECT_EQ(ReadPicHeader(source, header, packets), PicHeaderStatus::Read);
    return CheckPicRows(source, packets, header.Width(), header.Height());
}

} // namespace

// A file cut anywhere is damaged from the row the cut falls in: that row's
// data offset, "cut short", every row before it complete.
TEST(CheckPicRows, ACutNamesTheRowItFallsIn)
{
    const std::vector<LayoutPacket> layouts[] = {
        {{0, 0xE0}, {0, 0x10}}, {{2, 0xE0}, {2, 0x10}}, {{1, 0xF0}}, {{2, 0x80}, {1, 0x60}}};
    for (const auto& packets : layouts) {
        const LayoutFile file = BuildLayoutFile(41, 6, packets);
        const size_t first = file.rowStarts.front();
        for (size_t cut = first; cut < file.bytes.size(); cut += 7) {
            SCOPED_TRACE(cut);
            const PicRowsCheck check =
                CheckBytes(Bytes(file.bytes.begin(), file.bytes.begin() + long(cut)));
            uint32_t row = 0;
            while (file.rowStarts[row + 1] <= cut)
                ++row;
            ASSERT_TRUE(check.damaged);
            EXPECT_EQ(check.damage.row, row);
            EXPECT_EQ(check.damage.offset, file.rowStarts[row]);
            EXPECT_EQ(check.damage.reason, PicRowStatus::CutShort);
            EXPECT_EQ(check.rowsComplete, row);
        }
        Bytes longer = file.bytes;
        longer.insert(longer.end(), {1, 2, 3});
        const PicRowsCheck whole = CheckBytes(longer);
        EXPECT_FALSE(whole.damaged);
        EXPECT_EQ(whole.rowsComplete, 6u);
        EXPECT_EQ(whole.trailingBytes, 3u);
    }
}

TEST(CheckPicRows, NamesEachReason)
{
    struct Case {
        uint8_t type;
        Bytes rows; // two rows of width 2, one channel
        PicRowStatus reason;
        uint32_t row;
    };
    const Case cases[] = {
        {2, {0x81, 7, 0x82, 8}, PicRowStatus::RunPastEnd, 1},          // a run of 3 in a row of 2
        {2, {0x01, 7, 8, 0x02, 1, 2, 3}, PicRowStatus::RunPastEnd, 1}, // a literal of 3
        {1, {2, 7, 0, 8}, PicRowStatus::ZeroCount, 1},
        {1, {1, 7, 2, 8}, PicRowStatus::RunPastEnd, 0},
        {1, {2, 7, 2}, PicRowStatus::CutShort, 1}, // the pixel byte is missing
        {2, {0x80, 0x00, 0x02, 7, 0x80, 0x00}, PicRowStatus::CutShort, 1}, // long count cut
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(int(item.reason));
        Bytes file = MakePicHeaderBytes(2, 2, false, false);
        file.resize(104);
        file.insert(file.end(), {0, 8, item.type, 0x10});
        file.insert(file.end(), item.rows.begin(), item.rows.end());
        const PicRowsCheck check = CheckBytes(file);
        ASSERT_TRUE(check.damaged);
        EXPECT_EQ(check.damage.reason, item.reason);
        EXPECT_EQ(check.damage.row, item.row);
        EXPECT_EQ(check.rowsComplete, item.row);
    }
    EXPECT_STREQ(PicRowStatusText(PicRowStatus::RunPastEnd), "run past row end");
    EXPECT_STREQ(PicRowStatusText(PicRowStatus::ZeroCount), "zero count");
    EXPECT_STREQ(PicRowStatusText(PicRowStatus::CutShort), "cut short");
}

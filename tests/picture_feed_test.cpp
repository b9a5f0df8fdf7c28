#include "desktop/picture_feed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/layout_files.h"
#include "tests/test_support.h"

namespace {

// Rows in memory, checking that every row is reported once, in order.
class MemoryRows : public PictureRows {
public:
    Prepared answer = Prepared::Go;
    Bytes pixels;
    size_t rowBytes = 0;
    uint32_t updatedRows = 0;
    int prepared = 0;

    Prepared Prepare(uint32_t width, uint32_t height, bool alpha) override
    {
        ++prepared;
        rowBytes = size_t(width) * (alpha ? 4 : 3);
        if (answer == Prepared::Go)
            pixels.assign(rowBytes * height, 0);
        return answer;
    }
    uint8_t* Row(uint32_t y) override { return pixels.data() + y * rowBytes; }
    void Updated(uint32_t first, uint32_t count) override
    {
        EXPECT_EQ(first, updatedRows);
        updatedRows += count;
    }
};

struct Fed {
    bool picture = false;
    std::string error;
    std::string damage;
    MemoryRows rows;
};

void FeedInPieces(const Bytes& bytes, size_t piece, Fed& fed, uint64_t maxPixels = kPicNoPixelLimit)
{
    PictureFeed feed(fed.rows, maxPixels);
    bool going = true;
    for (size_t at = 0; at < bytes.size() && going; at += piece)
        going = feed.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
    fed.picture = going && feed.Finish();
    fed.error = feed.Error();
    fed.damage = feed.Damage();
}

// Fed in pieces of any size, the feed gives the whole-image reader's
// pixels, damage and words.
void ExpectAsWholeImage(const Bytes& bytes)
{
    const PicImage image = ReadPicImageMemory(bytes.data(), bytes.size(), true);
    for (const size_t piece : {size_t(1), size_t(5), size_t(64), bytes.size() + 1}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        Fed fed;
        FeedInPieces(bytes, piece, fed);
        if (image.facts.status != PicImageStatus::Ok || image.facts.Pixels() == 0) {
            // A decode gives a picture of no pixels; a loader has none to give.
            PicImageFacts refused = image.facts;
            if (refused.status == PicImageStatus::Ok)
                refused.status = PicImageStatus::NoPixels;
            EXPECT_FALSE(fed.picture);
            EXPECT_EQ(fed.error, PicStatusText(refused));
            continue;
        }
        ASSERT_TRUE(fed.picture) << fed.error;
        EXPECT_EQ(fed.damage, image.facts.rows.damaged ? PicDamageText(image.facts) : "");
        ASSERT_EQ(fed.rows.pixels.size(), image.PixelBytes());
        EXPECT_TRUE(std::equal(fed.rows.pixels.begin(), fed.rows.pixels.end(), image.pixels.get()));
        EXPECT_LE(fed.rows.updatedRows, image.facts.height);
    }
}

} // namespace

// Every layout, whole, with trailing bytes, cut inside its rows and with a
// run-length row that does not decode.
TEST(PictureFeed, GivesTheWholeImageReadersPictureInAnyPieces)
{
    const std::vector<LayoutPacket> layouts[] = {
        {{0, 0xE0}},                       // ours, raw RGB
        {{2, 0xE0}, {2, 0x10}},            // ours, mixed RGBA
        {{1, 0xF0}},                       // one pure packet for all four
        {{2, 0x10}, {0, 0xE0}},            // alpha first
        {{2, 0x80}, {1, 0x40}, {0, 0x20}}, // one per channel, no alpha
    };
    for (const auto& packets : layouts) {
        const LayoutFile file = BuildLayoutFile(41, 5, packets);
        SCOPED_TRACE(PicPacketsText(
            ReadPicImageMemory(file.bytes.data(), file.bytes.size(), false).facts.packets));
        ExpectAsWholeImage(file.bytes);
        Bytes longer = file.bytes;
        longer.insert(longer.end(), {1, 2, 3});
        ExpectAsWholeImage(longer);
        for (const size_t cut :
             {size_t(50), file.rowStarts[0] + 1, file.rowStarts[2] + 5, file.bytes.size() - 1})
            ExpectAsWholeImage(Bytes(file.bytes.begin(), file.bytes.begin() + long(cut)));
        Bytes broken = file.bytes;
        broken[file.rowStarts[3]] = 0x7F; // a long run, or raw bytes that differ
        ExpectAsWholeImage(broken);

        // Rows are given as soon as their bytes are all there.
        Fed fed;
        PictureFeed feed(fed.rows, kPicNoPixelLimit);
        ASSERT_TRUE(feed.Add(file.bytes.data(), file.rowStarts[3]));
        EXPECT_EQ(fed.rows.updatedRows, 3u);
    }
}

TEST(PictureFeed, SaysWhyThereIsNoPicture)
{
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes cutChain = MakePicHeaderBytes(2, 2, true, true);
    cutChain.resize(106);
    struct Case {
        const char* name;
        Bytes bytes;
        uint64_t maxPixels;
        const char* text;
    };
    const Case cases[] = {
        {"empty", {}, kPicNoPixelLimit, "file ends inside the header"},
        {"another format", png, kPicNoPixelLimit, "not a PIC file"},
        {"chain cut", cutChain, kPicNoPixelLimit, "file ends inside the channel packets"},
        {"no rows", MakePicHeaderBytes(480, 0, false, false), kPicNoPixelLimit,
         "no pixels: 480 x 0"},
        {"beyond the limit", MakePicHeaderBytes(3, 2, false, false), 5,
         "image is 3 x 2, more pixels than the limit"},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        Fed fed;
        FeedInPieces(item.bytes, 3, fed, item.maxPixels);
        EXPECT_FALSE(fed.picture);
        EXPECT_EQ(fed.error, item.text);
        EXPECT_EQ(fed.rows.prepared, 0);
    }
    // Another format is refused at its first bytes, not at the end.
    Fed early;
    PictureFeed feed(early.rows, kPicNoPixelLimit);
    EXPECT_FALSE(feed.Add(png.data(), 4));

    // A caller that wants the size alone gets it, and nothing more.
    const LayoutFile file = BuildLayoutFile(41, 5, {{0, 0xE0}});
    Fed sized;
    sized.rows.answer = PictureRows::Prepared::Stop;
    FeedInPieces(file.bytes, 7, sized);
    EXPECT_TRUE(sized.picture);
    EXPECT_EQ(sized.rows.prepared, 1);
    EXPECT_EQ(sized.rows.updatedRows, 0u);
    EXPECT_EQ(sized.damage, "");

    Fed refused;
    refused.rows.answer = PictureRows::Prepared::NoMemory;
    FeedInPieces(file.bytes, 7, refused);
    EXPECT_FALSE(refused.picture);
    EXPECT_EQ(refused.error, "out of memory");
}

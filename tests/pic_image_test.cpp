#include "pic/pic_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "driver/pic_bitmap_io.h"
#include "host/bitmap_storage.h"
#include "host/bmm_functions.h"
#include "tests/layout_files.h"
#include "tests/picture_helpers.h"
#include "tests/test_support.h"

namespace {

using StoragePtr = std::unique_ptr<BitmapStorage, StorageDeleter>;

// What the driver loads from `bytes`, as 8-bit RGB or RGBA (its alpha flag
// says which), in the order PicImage holds its pixels.
Bytes DriverPixels(const TempDir& dir, const Bytes& bytes, int& channels)
{
    WriteFileBytes(dir.File("load.pic"), bytes);
    PicBitmapIO driver;
    BitmapManager manager;
    Bitmap bitmap(&manager);
    BitmapInfo info;
    info.SetName(dir.File("load.pic").c_str());
    BMMRES status = 0;
    StoragePtr storage(driver.LoadImage(&info, &bitmap, &status));
    EXPECT_EQ(status, kResultSuccess);
    channels = driver.options.withAlpha == 1 ? 4 : 3;
    Bytes out;
    if (storage == nullptr)
        return out;
    for (const BMM_Color_64& pixel : ReadStorage(storage.get())) {
        const uint16_t values[4] = {pixel.r, pixel.g, pixel.b, pixel.a};
        for (int c = 0; c < channels; ++c)
            out.push_back(uint8_t(values[c] >> 8));
    }
    return out;
}

PicRowsCheck CheckedRows(const Bytes& bytes)
{
    PicByteSource source(bytes.data(), bytes.size());
    PicHeader header;
    std::vector<PicChannelPacket> packets;
    EXPECT_EQ(ReadPicHeader(source, header, packets), PicHeaderStatus::Read);
    return CheckPicRows(source, packets, header.Width(), header.Height());
}

// The same image from memory and from a file, with the facts CheckPicRows
// gives and the pixels the driver loads.
void ExpectReadAsDriverLoads(const TempDir& dir, const Bytes& bytes)
{
    const PicImage image = ReadPicImageMemory(bytes.data(), bytes.size(), true);
    ASSERT_EQ(image.facts.status, PicImageStatus::Ok);
    int channels = 0;
    const Bytes loaded = DriverPixels(dir, bytes, channels);
    EXPECT_EQ(image.facts.Channels(), channels);
    ASSERT_EQ(image.PixelBytes(), loaded.size());
    EXPECT_TRUE(std::memcmp(image.pixels.get(), loaded.data(), loaded.size()) == 0);

    const PicRowsCheck check = CheckedRows(bytes);
    const PicRowsCheck& rows = image.facts.rows;
    EXPECT_EQ(rows.rowsComplete, check.rowsComplete);
    EXPECT_EQ(rows.damaged, check.damaged);
    EXPECT_EQ(rows.damage.row, check.damage.row);
    EXPECT_EQ(rows.damage.offset, check.damage.offset);
    EXPECT_EQ(rows.damage.reason, check.damage.reason);
    EXPECT_EQ(rows.trailingBytes, check.trailingBytes);

    const PicImage checked = ReadPicImageFile(dir.File("load.pic").c_str(), false);
    EXPECT_EQ(checked.pixels, nullptr);
    EXPECT_EQ(checked.facts.rows.rowsComplete, check.rowsComplete);
    EXPECT_EQ(checked.facts.rows.damage.offset, check.damage.offset);
}

} // namespace

// Every layout, whole, with trailing bytes, cut inside its rows and with a
// run-length row that does not decode: the driver's pixels, check's facts.
TEST(PicImage, ReadsEveryLayoutAsTheDriverLoadsIt)
{
    TempDir dir;
    const std::vector<LayoutPacket> layouts[] = {
        {{0, 0xE0}},                       // ours, raw RGB
        {{0, 0xE0}, {0, 0x10}},            // ours, raw RGBA
        {{2, 0xE0}, {2, 0x10}},            // ours, mixed RGBA
        {{0, 0xF0}},                       // one raw packet for all four
        {{1, 0xF0}},                       // one pure packet for all four
        {{2, 0x10}, {2, 0xE0}},            // alpha first
        {{2, 0x80}, {1, 0x40}, {0, 0x20}}, // one per channel, no alpha
        {{0, 0xC0}},                       // blue carried by no packet
        {{0, 0xE0}, {2, 0x80}},            // a later packet wins
    };
    for (const auto& packets : layouts) {
        const LayoutFile file = BuildLayoutFile(41, 5, packets);
        SCOPED_TRACE(PicPacketsText(
            ReadPicImageMemory(file.bytes.data(), file.bytes.size(), false).facts.packets));
        ExpectReadAsDriverLoads(dir, file.bytes);
        Bytes longer = file.bytes;
        longer.insert(longer.end(), {1, 2, 3});
        ExpectReadAsDriverLoads(dir, longer);
        for (const size_t cut :
             {file.rowStarts[0] + 1, file.rowStarts[2] + 5, file.bytes.size() - 1})
            ExpectReadAsDriverLoads(dir, Bytes(file.bytes.begin(), file.bytes.begin() + long(cut)));
    }
    // Two rows of width 2, alpha only: a run reaching past the first row's end.
    Bytes broken = MakePicHeaderBytes(2, 2, false, false);
    broken.resize(104);
    broken.insert(broken.end(), {0, 8, 2, 0x10, 0x81, 7, 0x82, 8});
    ExpectReadAsDriverLoads(dir, broken);
    EXPECT_EQ(ReadPicImageMemory(broken.data(), broken.size(), true).facts.Channels(), 4);
}

TEST(PicImage, SaysWhyThereIsNoPicture)
{
    TempDir dir;
    const Bytes wide = MakePicHeaderBytes(30000, 30000, true, false);
    struct Case {
        const char* name;
        Bytes bytes;
        uint64_t maxPixels;
        PicImageStatus status;
        const char* text;
    };
    const Case cases[] = {
        {"empty", {}, kMaxStoragePixels, PicImageStatus::BadHeader, "file ends inside the header"},
        {"header cut", Bytes(wide.begin(), wide.begin() + 50), kMaxStoragePixels,
         PicImageStatus::BadHeader, "file ends inside the header"},
        {"beyond the limit", wide, kMaxStoragePixels, PicImageStatus::TooLarge,
         "image is 30000 x 30000, more pixels than the limit"},
        {"beyond a caller's limit", MakePicHeaderBytes(3, 2, false, false), 5,
         PicImageStatus::TooLarge, "image is 3 x 2, more pixels than the limit"},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        const PicImage image =
            ReadPicImageMemory(item.bytes.data(), item.bytes.size(), true, item.maxPixels);
        EXPECT_EQ(image.facts.status, item.status);
        EXPECT_EQ(PicStatusText(image.facts), item.text);
        EXPECT_EQ(image.pixels, nullptr);
    }
    // A check finds a frame with no pixels not whole; a decode gives it empty.
    const Bytes noRows = MakePicHeaderBytes(480, 0, false, false);
    const PicImage checked = ReadPicImageMemory(noRows.data(), noRows.size(), false);
    EXPECT_EQ(PicStatusText(checked.facts), "no pixels: 480 x 0");
    EXPECT_FALSE(checked.facts.Whole());
    EXPECT_EQ(ReadPicImageMemory(noRows.data(), noRows.size(), true).facts.status,
              PicImageStatus::Ok);
    // Only the pixels are limited: a check reads the rows of any size.
    EXPECT_EQ(ReadPicImageMemory(wide.data(), wide.size(), false).facts.rows.damage.row, 0u);
    const PicImage missing = ReadPicImageFile(dir.File("missing.pic").c_str(), true);
    EXPECT_EQ(missing.facts.status, PicImageStatus::CannotOpen);
    EXPECT_EQ(PicStatusText(missing.facts), "no such file or directory");
    EXPECT_EQ(PicStatusText(ReadPicImageFile(dir.Path().c_str(), false).facts), "is a directory");
}

// WritePicImage with the driver's comment field writes WriteFrame's bytes.
TEST(PicImage, WritesTheDriversBytes)
{
    TempDir dir;
    struct Case {
        int width;
        int height;
        bool alpha;
        bool compressed;
        bool noise;
    };
    const Case cases[] = {
        {1, 1, false, false, false}, {300, 7, false, true, false}, {300, 7, true, true, false},
        {129, 3, true, false, true}, {129, 3, false, true, true},  {0, 0, true, true, false},
        {2, 0, false, false, false},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(std::to_string(item.width) + "x" + std::to_string(item.height) +
                     (item.alpha ? " rgba" : " rgb") + (item.compressed ? " rle" : " raw"));
        const Pixels picture = item.noise ? MakeNoisePicture(item.width, item.height, 5)
                                          : MakeRunsPicture(item.width, item.height, 5);
        PicBitmapIO driver;
        driver.options.withAlpha = item.alpha ? 1 : 0;
        driver.options.rgbCompressed = item.compressed ? 1 : 0;
        std::strcpy(driver.options.comment, "shot 12");
        BitmapManager manager;
        Bitmap bitmap(&manager);
        bitmap.SetStorage(MakeStorage(item.width, item.height, picture, 0.75f));
        BitmapInfo output;
        output.SetName(dir.File("frame.pic").c_str());
        ASSERT_EQ(driver.OpenForWrite(&output, &bitmap), 0);
        ASSERT_EQ(driver.WriteFrame(kSingleFrame), 0);

        const int channels = item.alpha ? 4 : 3;
        Bytes pixels;
        for (const BMM_Color_64& pixel : picture) {
            const uint16_t values[4] = {pixel.r, pixel.g, pixel.b, pixel.a};
            for (int c = 0; c < channels; ++c)
                pixels.push_back(uint8_t(values[c] >> 8));
        }
        PicWriteOptions options;
        options.compressed = item.compressed;
        options.aspect = 0.75f;
        ComposeHeaderComment(driver.options.comment, options.comment);
        FILE* file = std::fopen(dir.File("image.pic").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(WritePicImage(file, pixels.data(), uint32_t(item.width), uint32_t(item.height),
                                channels, size_t(item.width) * size_t(channels), options),
                  PicWriteResult::Written);
        std::fclose(file);
        EXPECT_EQ(ReadFileBytes(dir.File("image.pic")), ReadFileBytes(dir.File("frame.pic")));
    }
}

TEST(PicImage, RefusesWhatTheDriverRefuses)
{
    struct Refusing : PicOutput {
        bool Put(const uint8_t*, size_t) override { return false; }
    } refusing;
    const uint8_t pixel[4] = {};
    const PicWriteOptions options;
    EXPECT_EQ(WritePicImage(refusing, pixel, 32768, 1, 3, 0, options), PicWriteResult::TooLarge);
    EXPECT_EQ(WritePicImage(refusing, pixel, 1, 32768, 4, 0, options), PicWriteResult::TooLarge);
    EXPECT_EQ(WritePicImage(refusing, pixel, 1, 1, 2, 2, options), PicWriteResult::TooLarge);
    EXPECT_EQ(WritePicImage(refusing, pixel, 1, 1, 3, 3, options), PicWriteResult::WriteFailed);
}

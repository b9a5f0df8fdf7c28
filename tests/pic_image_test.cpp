#include "pic/pic_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
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

namespace {

// Bytes spelled as words: p is the pixel 0A 14 1E with alpha 80, q the
// pixel 12 00 FF with alpha 00, each `channels` bytes; any other word a
// byte in hex.
Bytes Spell(const std::string& words, int channels)
{
    std::istringstream in(words);
    Bytes bytes;
    std::string word;
    while (in >> word) {
        const Bytes pixel = word == "p"   ? Bytes{0x0A, 0x14, 0x1E, 0x80}
                            : word == "q" ? Bytes{0x12, 0x00, 0xFF, 0x00}
                                          : Bytes{uint8_t(std::stoul(word, nullptr, 16))};
        bytes.insert(bytes.end(), pixel.begin(),
                     pixel.begin() + (pixel.size() == 1 ? 1 : channels));
    }
    return bytes;
}

} // namespace

// The one writer, byte for byte. A compressed row copies its literals from
// the interleaved colour only after a row of mostly literals.
TEST(PicImage, WritesEachLayoutByteForByte)
{
    struct Case {
        const char* name;
        int channels;
        bool compressed;
        int width;
        int height;
        const char* pixels;
        const char* rows; // what follows the header and packets; p and q their colour
    };
    const Case cases[] = {
        {"raw rgb", 3, false, 2, 1, "p q", "p q"},
        {"raw rgba: colour then alpha, row by row", 4, false, 1, 2, "p q", "p 80 q 00"},
        {"compressed rgb: a row of runs, then literals", 3, true, 3, 2, "p p p p q p",
         "82 p 01 p q 00 p"},
        {"compressed rgba: literals, then runs and literals", 4, true, 3, 2, "p q p q q p",
         "01 p q 00 p 01 80 00 00 80 81 q 00 p 81 00 00 80"},
        {"header only", 4, true, 0, 0, "", ""},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        PicWriteOptions options;
        options.compressed = item.compressed;
        options.aspect = 0.75f;
        ComposeHeaderComment("", options.comment);
        Bytes expected =
            MakePicHeaderBytes(item.width, item.height, item.channels == 4, item.compressed, 0.75f);
        const Bytes rows = Spell(item.rows, 3);
        expected.insert(expected.end(), rows.begin(), rows.end());
        EXPECT_EQ(WritePicToMemory(Spell(item.pixels, item.channels), item.width, item.height,
                                   item.channels, size_t(item.width * item.channels), options),
                  expected);
    }
}

// Rows of noise and of runs in turn, each row `stride` bytes after the last,
// read back as written.
TEST(PicImage, ReadsBackWhatItWrites)
{
    const int width = 300, height = 6;
    const Pixels noise = MakeNoisePicture(width, height, 3);
    const Pixels runs = MakeRunsPicture(width, height, 4);
    for (const int channels : {3, 4}) {
        const size_t stride = size_t(width * channels) + 5;
        Bytes pixels, expected;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const BMM_Color_64& pixel = (y % 2 == 0 ? noise : runs)[size_t(y * width + x)];
                const uint16_t values[4] = {pixel.r, pixel.g, pixel.b, pixel.a};
                for (int c = 0; c < channels; ++c)
                    expected.push_back(uint8_t(values[c] >> 8));
            }
            pixels.insert(pixels.end(), expected.end() - width * channels, expected.end());
            pixels.resize(size_t(y + 1) * stride, 0xEE);
        }
        for (const bool compressed : {false, true}) {
            SCOPED_TRACE(std::to_string(channels) + (compressed ? " compressed" : " raw"));
            PicWriteOptions options;
            options.compressed = compressed;
            const Bytes file = WritePicToMemory(pixels, width, height, channels, stride, options);
            const PicImage image = ReadPicImageMemory(file.data(), file.size(), true);
            ASSERT_TRUE(image.facts.Whole());
            ASSERT_EQ(image.PixelBytes(), expected.size());
            EXPECT_EQ(Bytes(image.pixels.get(), image.pixels.get() + expected.size()), expected);
        }
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

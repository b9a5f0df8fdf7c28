// Files of 16-bit channels in every layout, built by the tests' own encoder
// (tests/layout_files.h): the driver stores each value as it is, and the
// whole-image reader gives it as it is, or rounded to 8 bits. The encoder is
// checked against OpenImageIO where OpenImageIO reads such files right.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "driver/pic_bitmap_io.h"
#include "host/bitmap_storage.h"
#include "host/bmm_functions.h"
#include "pic/pic_image.h"
#include "tests/layout_files.h"
#include "tests/picture_helpers.h"
#include "tests/test_support.h"

namespace {

using Layout = std::vector<LayoutPacket>;
using StoragePtr = std::unique_ptr<BitmapStorage, StorageDeleter>;

bool HasAlpha(const Layout& layout)
{
    for (const LayoutPacket& packet : layout) {
        if ((packet.mask & 0x10) != 0)
            return true;
    }
    return false;
}

const Layout kLayouts[] = {
    {{0, 0xE0, 16}},                               // raw RGB
    {{0, 0xE0, 16}, {0, 0x10, 16}},                // raw RGB, raw alpha
    {{2, 0xE0, 16}, {2, 0x10, 16}},                // mixed RGB, mixed alpha
    {{2, 0xF0, 16}},                               // one mixed packet for all four
    {{1, 0xF0, 16}},                               // one pure packet for all four
    {{1, 0xE0, 16}, {1, 0x10, 16}},                // pure RGB, pure alpha
    {{2, 0x10, 16}, {0, 0xE0, 16}},                // alpha first, raw colour
    {{2, 0x80, 16}, {1, 0x40, 16}, {0, 0x20, 16}}, // one packet per channel
    {{0, 0xC0, 16}, {2, 0x30, 16}},                // two channels a packet
    {{0, 0xC0, 16}},                               // blue carried by no packet
    {{2, 0xE0, 16}, {0, 0x10, 8}},                 // 16-bit colour, 8-bit alpha
    {{2, 0xE0, 8}, {1, 0x40, 16}, {0, 0x10, 16}},  // a 16-bit packet over 8-bit green
};
constexpr uint32_t kWidth = 41;
constexpr uint32_t kHeight = 5;

// The host pixels the driver loads from `bytes`, with its alpha flag.
Pixels DriverLoad(const TempDir& dir, const Bytes& bytes, bool& alpha, int& type)
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
    alpha = (info.Flags() & kFlagHasAlpha) != 0;
    BitmapInfo asked;
    asked.SetName(dir.File("load.pic").c_str());
    EXPECT_EQ(driver.ReadImageInfo(&asked), kResultSuccess);
    type = asked.Type();
    return storage != nullptr ? ReadStorage(storage.get()) : Pixels();
}

} // namespace

TEST(SixteenBit, RoundsTo8BitsByTheUsualRule)
{
    for (uint32_t value = 0; value <= 0xFFFF; ++value)
        ASSERT_EQ(RoundTo8Bits(uint16_t(value)), std::lround(value * 255.0 / 65535.0)) << value;
}

// Every layout: the driver's storage holds each 16-bit value as it is (an
// 8-bit one v as v << 8, as ever), answers the image type of 8-bit files;
// the reader gives the values stored (an 8-bit v as v * 257) or rounded.
TEST(SixteenBit, EveryLayoutReadsExactly)
{
    TempDir dir;
    for (const Layout& layout : kLayouts) {
        const LayoutFile file = BuildLayoutFile(kWidth, kHeight, layout);
        const PicImage checked = ReadPicImageMemory(file.bytes.data(), file.bytes.size(), false);
        SCOPED_TRACE(PicPacketsText(checked.facts.packets));
        EXPECT_TRUE(checked.facts.Whole());
        EXPECT_EQ(checked.facts.Bits(), 16);

        bool alpha = false;
        int type = 0;
        const Pixels loaded = DriverLoad(dir, file.bytes, alpha, type);
        EXPECT_EQ(alpha, HasAlpha(layout));
        EXPECT_EQ(type, HasAlpha(layout) ? kImageType32WithAlpha : kImageType24);
        PicReadRequest request;
        request.depth = PicDepth::Stored;
        const PicImage wide = ReadPicImageMemory(file.bytes.data(), file.bytes.size(), request);
        const PicImage narrow = ReadPicImageMemory(file.bytes.data(), file.bytes.size(), true);
        ASSERT_EQ(loaded.size(), size_t(kWidth * kHeight));
        ASSERT_EQ(wide.bits, 16);
        ASSERT_NE(wide.pixels16, nullptr);
        ASSERT_NE(narrow.pixels, nullptr);
        const int channels = wide.facts.Channels();
        size_t mismatches = 0;
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                const BMM_Color_64& host = loaded[y * kWidth + x];
                const uint16_t hosted[4] = {host.r, host.g, host.b, host.a};
                for (int c = 0; c < 4; ++c) {
                    const LayoutStored stored = LayoutStoredValue(layout, x, y, c);
                    const uint16_t value = stored.value;
                    mismatches += hosted[c] != (stored.bits == 8 ? value << 8 : value);
                    if (c >= channels)
                        continue;
                    const size_t at = (y * kWidth + x) * size_t(channels) + size_t(c);
                    mismatches += wide.pixels16[at] != (stored.bits == 8 ? value * 257 : value);
                    mismatches +=
                        narrow.pixels[at] != (stored.bits == 16 ? RoundTo8Bits(value) : value);
                }
            }
        }
        EXPECT_EQ(mismatches, 0u);
    }
    // An 8-bit file asked for its stored depth gives 8 bits.
    const LayoutFile eight = BuildLayoutFile(3, 2, {{2, 0xE0}});
    PicReadRequest request;
    request.depth = PicDepth::Stored;
    const PicImage image = ReadPicImageMemory(eight.bytes.data(), eight.bytes.size(), request);
    EXPECT_EQ(image.bits, 8);
    EXPECT_NE(image.pixels, nullptr);
    EXPECT_EQ(image.pixels16, nullptr);
}

#if !defined(_WIN32)
// OpenImageIO 2.4 reads 16-bit PIC files wrong in places: it swaps the two
// bytes of every run value, zero-fills raw rows and crashes on pure rows.
// Literal values of mixed rows it reads right, so those, and only those,
// check the tests' encoder against a reader of its own.
TEST(SixteenBit, EncoderAgreesWithOpenImageIOOnLiterals)
{
    TempDir dir;
    const std::string script = "import sys\n"
                               "try:\n"
                               "    import OpenImageIO as oiio\n"
                               "except ImportError:\n"
                               "    sys.exit(77)\n"
                               "image = oiio.ImageInput.open(sys.argv[1])\n"
                               "pixels = image.read_image(oiio.UINT16)\n"
                               "sys.stdout.buffer.write(bytes([image.spec().nchannels]))\n"
                               "sys.stdout.buffer.write(pixels.astype('<u2').tobytes())\n";
    WriteFileBytes(dir.File("read.py"), Bytes(script.begin(), script.end()));
    size_t compared = 0;
    for (const Layout& layout : kLayouts) {
        bool mixedOnly = true;
        for (const LayoutPacket& packet : layout)
            mixedOnly = mixedOnly && packet.type == 2 && packet.bits == 16;
        if (!mixedOnly)
            continue;
        const LayoutFile file = BuildLayoutFile(kWidth, kHeight, layout);
        WriteFileBytes(dir.File("oiio.pic"), file.bytes);
        const std::string command =
            "/usr/bin/python3 " + dir.File("read.py") + " " + dir.File("oiio.pic");
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        Bytes out;
        uint8_t chunk[4096];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) != 0;)
            out.insert(out.end(), chunk, chunk + got);
        const int status = pclose(pipe);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
            GTEST_SKIP() << "no OpenImageIO for python3";
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        const size_t channels = out.at(0);
        ASSERT_EQ(out.size(), 1 + 2 * channels * kWidth * kHeight);
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                if (!file.literal[y * kWidth + x])
                    continue;
                for (size_t c = 0; c < channels; ++c) {
                    const size_t at = 1 + 2 * ((y * kWidth + x) * channels + c);
                    EXPECT_EQ(out[at] | out[at + 1] << 8, LayoutValue16(x, y, int(c)));
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 0u);
}
#endif

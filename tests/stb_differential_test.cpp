// Files we write, decoded by an independent PIC reader (stb_image), must give
// back the pixels we wrote (their high bytes); files of every other layout
// must load as that reader reads them.
#include <gtest/gtest.h>

#include <string>

#include "driver/pic_bitmap_io.h"
#include "pic/byte_source.h"
#include "pic/pic_row_reader.h"
#include "tests/layout_files.h"
#include "tests/picture_helpers.h"
#include "tests/test_support.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PIC
#define STBI_NO_STDIO
#include <stb_image.h>

namespace {

struct Layout {
    bool withAlpha;
    bool compressed;
};

std::string Describe(int width, int height, const Layout& layout, bool noise)
{
    return std::to_string(width) + "x" + std::to_string(height) +
           (layout.withAlpha ? " rgba" : " rgb") + (layout.compressed ? " compressed" : " raw") +
           (noise ? " noise" : " runs");
}

Bytes WriteWithDriver(const std::string& name, int width, int height, const Pixels& picture,
                      const Layout& layout)
{
    PicBitmapIO writer;
    writer.options.withAlpha = layout.withAlpha ? 1 : 0;
    writer.options.rgbCompressed = layout.compressed ? 1 : 0;
    BitmapManager manager;
    Bitmap bitmap(&manager);
    bitmap.SetStorage(MakeStorage(width, height, picture));
    BitmapInfo output;
    output.SetName(name.c_str());
    if (writer.OpenForWrite(&output, &bitmap) != 0 || writer.WriteFrame(kSingleFrame) != 0)
        return {};
    return ReadFileBytes(name);
}

TEST(StbDifferential, DecodesOurFilesToOurPixels)
{
    TempDir dir;
    const Layout layouts[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    const int sizes[][2] = {{1, 1}, {127, 2}, {128, 3}, {129, 2}, {300, 5}, {2, 300}};
    uint32_t seed = 100;
    for (const Layout& layout : layouts) {
        for (const auto& size : sizes) {
            for (const bool noise : {false, true}) {
                const int width = size[0];
                const int height = size[1];
                SCOPED_TRACE(Describe(width, height, layout, noise));
                const Pixels picture = noise ? MakeNoisePicture(width, height, ++seed)
                                             : MakeRunsPicture(width, height, ++seed);
                const Bytes file =
                    WriteWithDriver(dir.File("peer.pic"), width, height, picture, layout);
                ASSERT_FALSE(file.empty());

                int decodedWidth = 0;
                int decodedHeight = 0;
                int channels = 0;
                stbi_uc* decoded = stbi_load_from_memory(
                    file.data(), int(file.size()), &decodedWidth, &decodedHeight, &channels, 4);
                ASSERT_NE(decoded, nullptr) << stbi_failure_reason();
                EXPECT_EQ(decodedWidth, width);
                EXPECT_EQ(decodedHeight, height);
                EXPECT_EQ(channels, layout.withAlpha ? 4 : 3);
                size_t mismatches = 0;
                for (size_t i = 0; i < picture.size(); ++i) {
                    const stbi_uc* peer = decoded + 4 * i;
                    const BMM_Color_64& ours = picture[i];
                    const bool same = peer[0] == ours.r >> 8 && peer[1] == ours.g >> 8 &&
                                      peer[2] == ours.b >> 8 &&
                                      (!layout.withAlpha || peer[3] == ours.a >> 8);
                    if (!same && ++mismatches <= 3)
                        ADD_FAILURE() << "pixel " << i << " differs";
                }
                EXPECT_EQ(mismatches, 0u);
                stbi_image_free(decoded);
            }
        }
    }
}

// Every packet layout other writers use, loaded by the driver and read by
// stb_image, compared on the channels the file holds; the channels it does
// not hold load as 0. Each file is whole by the row check, too.
TEST(StbDifferential, ReadsEveryLayoutAsThePeerDoes)
{
    constexpr uint8_t kRaw = 0, kPure = 1, kMixed = 2;
    struct Case {
        const char* name;
        uint32_t width, height;
        std::vector<LayoutPacket> packets;
    };
    // clang-format off
    const Case cases[] = {
        {"raw rgb", 37, 5, {{kRaw, 0xE0}}},
        {"mixed rgb", 37, 5, {{kMixed, 0xE0}}},
        {"pure rgb", 37, 5, {{kPure, 0xE0}}},
        {"raw rgb, raw alpha", 37, 5, {{kRaw, 0xE0}, {kRaw, 0x10}}},
        {"mixed rgb, mixed alpha", 37, 5, {{kMixed, 0xE0}, {kMixed, 0x10}}},
        {"raw rgb, mixed alpha", 37, 5, {{kRaw, 0xE0}, {kMixed, 0x10}}},
        {"mixed rgb, raw alpha", 37, 5, {{kMixed, 0xE0}, {kRaw, 0x10}}},
        {"pure rgb, pure alpha", 37, 5, {{kPure, 0xE0}, {kPure, 0x10}}},
        {"pure rgb, mixed alpha", 37, 5, {{kPure, 0xE0}, {kMixed, 0x10}}},
        {"raw rgb, pure alpha", 37, 5, {{kRaw, 0xE0}, {kPure, 0x10}}},
        {"raw rgba in one packet", 37, 5, {{kRaw, 0xF0}}},
        {"pure rgba in one packet", 37, 5, {{kPure, 0xF0}}},
        {"mixed rgba in one packet", 300, 4, {{kMixed, 0xF0}}},
        {"alpha first", 37, 5, {{kMixed, 0x10}, {kRaw, 0xE0}}},
        {"one packet per channel", 37, 5,
         {{kRaw, 0x80}, {kMixed, 0x40}, {kPure, 0x20}, {kMixed, 0x10}}},
        {"red and blue, then green", 37, 5, {{kRaw, 0xA0}, {kMixed, 0x40}}},
        {"red only", 37, 5, {{kMixed, 0x80}}},
        {"alpha only", 37, 5, {{kRaw, 0x10}}},
        {"masks with low bits", 37, 5, {{kMixed, 0xE7}, {kRaw, 0x1F}}},
        {"width 32768", 32768, 2, {{kMixed, 0xE0}}},
        {"width 40000", 40000, 2, {{kPure, 0xF0}}},
        {"width 65535", 65535, 2, {{kRaw, 0xE0}, {kMixed, 0x10}}},
        {"height 32768", 3, 32768, {{kRaw, 0xE0}}},
        {"height 40000", 1, 40000, {{kMixed, 0xE0}, {kPure, 0x10}}},
    };
    // clang-format on
    TempDir dir;
    const std::string path = dir.File("layout.pic");
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        const LayoutFile file = BuildLayoutFile(item.width, item.height, item.packets);
        WriteFileBytes(path, file.bytes);
        uint8_t covered = 0;
        for (const LayoutPacket& packet : item.packets)
            covered |= packet.mask;

        PicByteSource source(file.bytes.data(), file.bytes.size());
        PicHeader header;
        std::vector<PicChannelPacket> packets;
        ASSERT_EQ(ReadPicHeader(source, header, packets), PicHeaderStatus::Read);
        const PicRowsCheck check = CheckPicRows(source, packets, item.width, item.height);
        EXPECT_FALSE(check.damaged);
        EXPECT_EQ(check.rowsComplete, item.height);
        EXPECT_EQ(check.trailingBytes, 0u);

        PicBitmapIO driver;
        BitmapManager manager;
        Bitmap bitmap(&manager);
        BitmapInfo info;
        info.SetName(path.c_str());
        BMMRES status = -1;
        std::unique_ptr<BitmapStorage, StorageDeleter> storage(
            driver.LoadImage(&info, &bitmap, &status));
        ASSERT_NE(storage, nullptr);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(driver.options.withAlpha, (covered & 0x10) != 0 ? 1 : 0);
        const Pixels ours = ReadStorage(storage.get());

        int width = 0, height = 0, channels = 0;
        stbi_uc* peer = stbi_load_from_memory(file.bytes.data(), int(file.bytes.size()), &width,
                                              &height, &channels, 4);
        ASSERT_NE(peer, nullptr) << stbi_failure_reason();
        ASSERT_EQ(uint32_t(width), item.width);
        ASSERT_EQ(uint32_t(height), item.height);
        ASSERT_EQ(ours.size(), size_t(width) * size_t(height));
        size_t mismatches = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            const uint16_t mine[4] = {ours[i].r, ours[i].g, ours[i].b, ours[i].a};
            for (int c = 0; c < 4; ++c) {
                const bool holds = (covered & (0x80 >> c)) != 0;
                const int expected = holds ? peer[4 * i + size_t(c)] << 8 : 0;
                if (mine[c] != expected && ++mismatches <= 3)
                    ADD_FAILURE() << "pixel " << i << " channel " << c << ": " << mine[c]
                                  << " against " << expected;
            }
        }
        EXPECT_EQ(mismatches, 0u);
        stbi_image_free(peer);
    }
}

} // namespace

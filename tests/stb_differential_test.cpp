// Files we write, decoded by an independent PIC reader (stb_image), must give
// back the pixels we wrote (their high bytes).
#include <gtest/gtest.h>

#include <string>

#include "driver/pic_bitmap_io.h"
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

} // namespace

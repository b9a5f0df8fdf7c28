#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "driver/pixel_rows.h"
#include "pic/cpu_vectors.h"
#include "tests/picture_helpers.h"

namespace {

// Every width from 0 to 70 covers the vector steps (4, 8 and 16 pixels) and
// every length of scalar tail; the guard bytes catch a write past the row.
// Each case runs twice: as this CPU converts, and with the one-pixel loops
// only, as a CPU without SSE2 would.
constexpr int kMaxWidth = 70;
constexpr uint8_t kGuard = 0xA5;

std::vector<uint8_t> RandomBytes(size_t count, std::mt19937& random)
{
    std::vector<uint8_t> bytes(count);
    for (auto& byte : bytes)
        byte = uint8_t(random());
    return bytes;
}

class PixelRows : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { ForcePlainPaths(GetParam()); }
    void TearDown() override { ForcePlainPaths(false); }
};

INSTANTIATE_TEST_SUITE_P(Paths, PixelRows, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& paramInfo) {
                             return paramInfo.param ? "ScalarOnly" : "AsThisCpu";
                         });

TEST_P(PixelRows, WideningPutsEachByteInTheHighHalf)
{
    std::mt19937 random(7);
    for (int width = 0; width <= kMaxWidth; ++width) {
        SCOPED_TRACE(width);
        const std::vector<uint8_t> rgb = RandomBytes(3 * size_t(width), random);
        const std::vector<uint8_t> red = RandomBytes(size_t(width), random);
        const std::vector<uint8_t> green = RandomBytes(size_t(width), random);
        const std::vector<uint8_t> blue = RandomBytes(size_t(width), random);
        const std::vector<uint8_t> alpha = RandomBytes(size_t(width), random);
        for (const bool withAlpha : {false, true}) {
            Pixels interleaved(size_t(width) + 1, BMM_Color_64{0xA5A5, 0xA5A5, 0xA5A5, 0xA5A5});
            Pixels planar(interleaved);
            const uint8_t* alphaOrNull = withAlpha ? alpha.data() : nullptr;
            WidenInterleavedRow(rgb.data(), alphaOrNull, width, interleaved.data());
            WidenPlanarRow(red.data(), green.data(), blue.data(), alphaOrNull, width,
                           planar.data());
            for (int i = 0; i < width; ++i) {
                const uint16_t a = withAlpha ? uint16_t(alpha[size_t(i)] << 8) : 0;
                EXPECT_EQ(interleaved[size_t(i)],
                          (BMM_Color_64{uint16_t(rgb[3 * size_t(i)] << 8),
                                        uint16_t(rgb[3 * size_t(i) + 1] << 8),
                                        uint16_t(rgb[3 * size_t(i) + 2] << 8), a}))
                    << i;
                EXPECT_EQ(planar[size_t(i)], (BMM_Color_64{uint16_t(red[size_t(i)] << 8),
                                                           uint16_t(green[size_t(i)] << 8),
                                                           uint16_t(blue[size_t(i)] << 8), a}))
                    << i;
            }
            EXPECT_EQ(interleaved[size_t(width)].r, 0xA5A5);
            EXPECT_EQ(planar[size_t(width)].r, 0xA5A5);
        }
    }
}

TEST_P(PixelRows, NarrowingKeepsTheHighByte)
{
    for (int width = 0; width <= kMaxWidth; ++width) {
        SCOPED_TRACE(width);
        const Pixels pixels = MakeNoisePicture(width, 1, uint32_t(width) + 1);
        std::vector<uint8_t> rgb(3 * size_t(width) + 1, kGuard), rgbToo(rgb);
        std::vector<uint8_t> red(size_t(width) + 1, kGuard), green(red), blue(red), alpha(red),
            alphaOnly(red);
        NarrowToInterleaved(pixels.data(), width, rgb.data());
        NarrowToPlanar(pixels.data(), width, red.data(), green.data(), blue.data(), alpha.data(),
                       rgbToo.data());
        NarrowAlpha(pixels.data(), width, alphaOnly.data());
        EXPECT_EQ(rgbToo, rgb);
        for (int i = 0; i < width; ++i) {
            const BMM_Color_64& pixel = pixels[size_t(i)];
            const size_t at = size_t(i);
            EXPECT_EQ(rgb[3 * at], pixel.r >> 8) << i;
            EXPECT_EQ(rgb[3 * at + 1], pixel.g >> 8) << i;
            EXPECT_EQ(rgb[3 * at + 2], pixel.b >> 8) << i;
            EXPECT_EQ(red[at], pixel.r >> 8) << i;
            EXPECT_EQ(green[at], pixel.g >> 8) << i;
            EXPECT_EQ(blue[at], pixel.b >> 8) << i;
            EXPECT_EQ(alpha[at], pixel.a >> 8) << i;
            EXPECT_EQ(alphaOnly[at], pixel.a >> 8) << i;
        }
        EXPECT_EQ(rgb[3 * size_t(width)], kGuard);
        for (const auto* row : {&red, &green, &blue, &alpha, &alphaOnly})
            EXPECT_EQ((*row)[size_t(width)], kGuard);
    }
}

// Every x86 CPU these builds run on has SSE2: a dispatch that never picks the
// vector loops would pass the tests above and lose the speed silently.
TEST(PixelRowPaths, X86TakesTheVectorLoopsUnlessForcedOff)
{
#if defined(__GNUC__) && (defined(__x86_64__) || (defined(__i386__) && !defined(__clang__)))
    EXPECT_TRUE(UseVectorPaths());
#endif
    ForcePlainPaths(true);
    EXPECT_FALSE(UseVectorPaths());
    ForcePlainPaths(false);
}

} // namespace

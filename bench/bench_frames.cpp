#include "bench/bench_frames.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "pic/rle_codec.h"

namespace {

// xorshift32: cheap, repeatable noise.
struct Noise {
    uint32_t state;
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

BenchFrame EmptyFrame(int width, int height)
{
    BenchFrame frame;
    frame.width = width;
    frame.height = height;
    const size_t pixels = size_t(width) * size_t(height);
    frame.red.assign(pixels, 0);
    frame.green.assign(pixels, 0);
    frame.blue.assign(pixels, 0);
    frame.alpha.assign(pixels, 0);
    return frame;
}

void SetPixel(BenchFrame& frame, size_t index, int red, int green, int blue, int alpha)
{
    frame.red[index] = uint8_t(std::clamp(red, 0, 255));
    frame.green[index] = uint8_t(std::clamp(green, 0, 255));
    frame.blue[index] = uint8_t(std::clamp(blue, 0, 255));
    frame.alpha[index] = uint8_t(std::clamp(alpha, 0, 255));
}

// Sky rows: one colour per row (alpha 0, as a render's background), with a
// sun whose glow changes every few pixels.
void PaintSky(BenchFrame& frame, int horizon)
{
    const int sunX = frame.width * 3 / 4;
    const int sunY = horizon / 3;
    const int glow = std::max(1, frame.height / 8);
    for (int y = 0; y < horizon; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const size_t index = size_t(y) * size_t(frame.width) + size_t(x);
            const double distance = std::hypot(x - sunX, y - sunY);
            const int shine = distance < glow ? int(120 * (1 - distance / glow)) : 0;
            SetPixel(frame, index, 40 + y * 80 / horizon + shine, 70 + y * 60 / horizon + shine,
                     160 + y * 40 / horizon + shine / 2, shine > 0 ? 255 : 0);
        }
    }
}

// Floor rows: a gradient across and down. Red and green take turns to step
// up, so the colour changes every kFloorSteps-th of the width.
void PaintFloor(BenchFrame& frame, int horizon)
{
    constexpr int kFloorSteps = 400;
    for (int y = horizon; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const size_t index = size_t(y) * size_t(frame.width) + size_t(x);
            const int step = x * kFloorSteps / frame.width;
            SetPixel(frame, index, 40 + step / 2, 30 + (step + 1) / 2 + y / 128,
                     30 + y * 40 / frame.height, 255);
        }
    }
}

// Flat discs with a soft (literal) edge of a few pixels.
void PaintDiscs(BenchFrame& frame)
{
    const struct {
        int x, y, radius, red, green, blue;
    } discs[] = {{1, 3, 5, 200, 30, 30}, {3, 5, 4, 30, 200, 60}, {6, 6, 6, 220, 220, 220},
                 {8, 2, 3, 90, 40, 160}, {4, 8, 7, 10, 10, 10},  {9, 7, 4, 250, 180, 20}};
    const int unit = std::max(1, frame.width / 11);
    for (const auto& disc : discs) {
        const int centreX = disc.x * unit, centreY = disc.y * frame.height / 10;
        const int radius = disc.radius * unit / 8;
        for (int y = std::max(0, centreY - radius); y < std::min(frame.height, centreY + radius);
             ++y) {
            for (int x = std::max(0, centreX - radius); x < std::min(frame.width, centreX + radius);
                 ++x) {
                const double edge = radius - std::hypot(x - centreX, y - centreY);
                if (edge <= 0)
                    continue;
                const size_t index = size_t(y) * size_t(frame.width) + size_t(x);
                const double cover = std::min(1.0, edge / 3);
                const auto mix = [cover](int inside, uint8_t outside) {
                    return int(inside * cover + outside * (1 - cover));
                };
                SetPixel(frame, index, mix(disc.red, frame.red[index]),
                         mix(disc.green, frame.green[index]), mix(disc.blue, frame.blue[index]),
                         std::max(int(frame.alpha[index]), int(255 * cover)));
            }
        }
    }
}

// A textured patch (a carpet, a tree's leaves): every pixel different.
void PaintTexture(BenchFrame& frame)
{
    Noise noise{2463534242u};
    const int size = std::min({frame.width, frame.height, 300});
    const int left = frame.width / 10, top = frame.height - size - frame.height / 20;
    for (int y = top; y < top + size; ++y) {
        for (int x = left; x < left + size; ++x) {
            const size_t index = size_t(y) * size_t(frame.width) + size_t(x);
            const uint32_t value = noise.Next();
            SetPixel(frame, index, 90 + int(value & 63), 60 + int((value >> 6) & 63),
                     40 + int((value >> 12) & 31), 255);
        }
    }
}

} // namespace

BenchFrame MakeTypicalRenderFrame(int width, int height)
{
    BenchFrame frame = EmptyFrame(width, height);
    const int horizon = height * 9 / 20;
    PaintSky(frame, horizon);
    PaintFloor(frame, horizon);
    PaintDiscs(frame);
    PaintTexture(frame);
    return frame;
}

BenchFrame MakeNoisyFrame(int width, int height)
{
    BenchFrame frame = EmptyFrame(width, height);
    Noise noise{88172645u};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t index = size_t(y) * size_t(width) + size_t(x);
            const uint32_t grain = noise.Next();
            // Grain in every channel: two equal neighbours are rare.
            const int red = 40 + x * 150 / width + int(grain & 15) * 2;
            SetPixel(frame, index, red, 60 + y * 120 / height + int((grain >> 4) & 31),
                     90 + int((grain >> 9) & 31), 255);
        }
    }
    return frame;
}

void EncodeFrameRows(const BenchFrame& frame, PicByteSink& sink)
{
    std::vector<uint8_t> encoded(MaxEncodedRgbRow(frame.width) + MaxEncodedChannelRow(frame.width));
    for (int row = 0; row < frame.height; ++row) {
        const ptrdiff_t colour =
            EncodeRgbRow(encoded.data(), frame.Row(frame.red, row), frame.Row(frame.green, row),
                         frame.Row(frame.blue, row), frame.width);
        const ptrdiff_t alpha =
            EncodeChannelRow(encoded.data() + colour, frame.Row(frame.alpha, row), frame.width);
        sink.Put(encoded.data(), size_t(colour + alpha));
    }
}

FILE* MakeEncodedFrameFile(const BenchFrame& frame)
{
    FILE* file = std::tmpfile();
    if (file == nullptr)
        return nullptr;
    {
        PicByteSink sink(file);
        EncodeFrameRows(frame, sink);
        if (sink.Flush() == 0) {
            std::fclose(file);
            return nullptr;
        }
    }
    std::rewind(file);
    return file;
}

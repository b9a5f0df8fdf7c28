// Draws the bundled sample image, samples/sample.png: 256 x 192
// RGBA, 8 bits per channel. Gradients give the run-length coder raw runs,
// flat shapes give it long repeats, and the alpha channel holds opaque,
// translucent and fully transparent areas with a ramp between them.
//
//   make_sample_png OUT.png        writes the image
//   make_sample_png --check FILE   exit 0 when FILE decodes to these pixels
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/formats/format_table.h"
#include "engine/formats/whole_image.h"

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

struct Rgba {
    int r, g, b, a;
};

bool InCircle(int x, int y, int centreX, int centreY, int radius)
{
    const int dx = x - centreX;
    const int dy = y - centreY;
    return dx * dx + dy * dy <= radius * radius;
}

Rgba SamplePixel(int x, int y)
{
    // A band of alpha running from transparent to opaque along the bottom.
    if (y >= 168)
        return {x, 255 - x, 96, x};
    if (InCircle(x, y, 72, 84, 44))
        return {240, 196, 40, 255};
    if (x >= 140 && x < 236 && y >= 24 && y < 88)
        return {32, 96, 224, 160};
    if (InCircle(x, y, 180, 128, 30) && !InCircle(x, y, 180, 128, 20))
        return {250, 250, 250, 255};
    if ((x + y) % 32 < 4 && x < 120 && y >= 136)
        return {0, 0, 0, 0}; // transparent stripes
    return {x, y * 255 / (kHeight - 1), 255 - x / 2, 255};
}

HostImage DrawSample()
{
    HostImage image;
    image.width = kWidth;
    image.height = kHeight;
    image.channels.resize(size_t(kWidth) * kHeight * 4);
    image.hasAlpha = true;
    uint16_t* channel = image.channels.data();
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x, channel += 4) {
            const Rgba pixel = SamplePixel(x, y);
            channel[0] = uint16_t(pixel.r << 8);
            channel[1] = uint16_t(pixel.g << 8);
            channel[2] = uint16_t(pixel.b << 8);
            channel[3] = uint16_t(pixel.a << 8);
        }
    }
    return image;
}

int Check(const std::string& path)
{
    HostImage file;
    std::string error;
    if (!ReadImageFile(path, kMaxImagePixels, file, error)) {
        std::fprintf(stderr, "make_sample_png: %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    const HostImage drawn = DrawSample();
    if (file.width != drawn.width || file.height != drawn.height || !file.hasAlpha ||
        file.channels != drawn.channels) {
        std::fprintf(stderr, "make_sample_png: %s is not the image this program draws\n",
                     path.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0)
        return Check(argv[2]);
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: make_sample_png OUT.png | --check FILE.png\n");
        return 2;
    }
    std::string error;
    if (!WriteImageFile(argv[1], *OutputFormatOfWord("png"), WriteSettings{}, DrawSample(),
                        error)) {
        std::fprintf(stderr, "make_sample_png: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    return 0;
}

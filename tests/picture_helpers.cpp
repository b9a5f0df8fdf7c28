#include "tests/picture_helpers.h"

#include <iomanip>
#include <random>

#include "host/bitmap_info.h"
#include "host/bmm_functions.h"

void PrintTo(const BMM_Color_64& pixel, std::ostream* out)
{
    *out << std::hex << std::setfill('0') << "(" << std::setw(4) << pixel.r << "," << std::setw(4)
         << pixel.g << "," << std::setw(4) << pixel.b << "," << std::setw(4) << pixel.a << ")"
         << std::dec;
}

BitmapStorage* MakeStorage(int width, int height, const Pixels& pixels, float aspect)
{
    BitmapStorage* storage = BMMCreateStorage(nullptr, kStorage64);
    BitmapInfo info;
    info.SetWidth(uint16_t(width));
    info.SetHeight(uint16_t(height));
    info.SetAspect(aspect);
    if (storage == nullptr || !storage->AllocatePixels(&info, nullptr, 1))
        return storage;
    if (!pixels.empty())
        for (int y = 0; y < height; ++y)
            storage->StoreRow(0, y, width, pixels.data() + size_t(y) * size_t(width));
    return storage;
}

Pixels ReadStorage(BitmapStorage* storage)
{
    const int width = storage->Width();
    const int height = storage->Height();
    Pixels pixels(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y)
        storage->FetchRow(0, y, width, pixels.data() + size_t(y) * size_t(width));
    return pixels;
}

Pixels MakeRunsPicture(int width, int height, uint32_t seed)
{
    std::mt19937 random(seed);
    Pixels pixels(size_t(width) * size_t(height));
    BMM_Color_64 current{};
    size_t left = 0;
    for (auto& pixel : pixels) {
        if (left == 0) {
            current = {uint16_t(random()), uint16_t(random()), uint16_t(random()),
                       uint16_t(random())};
            // Mostly short stretches, now and then a long one.
            left = random() % 4 == 0 ? 1 + random() % 300 : 1 + random() % 3;
        }
        pixel = current;
        --left;
    }
    return pixels;
}

Pixels MakeNoisePicture(int width, int height, uint32_t seed)
{
    std::mt19937 random(seed);
    Pixels pixels(size_t(width) * size_t(height));
    for (auto& pixel : pixels)
        pixel = {uint16_t(random()), uint16_t(random()), uint16_t(random()), uint16_t(random())};
    return pixels;
}

Pixels HighBytesOnly(const Pixels& pixels, bool withAlpha)
{
    Pixels result(pixels);
    for (auto& pixel : result) {
        pixel.r &= 0xFF00;
        pixel.g &= 0xFF00;
        pixel.b &= 0xFF00;
        pixel.a = withAlpha ? uint16_t(pixel.a & 0xFF00) : 0;
    }
    return result;
}

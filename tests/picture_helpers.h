// Test pictures in host storages: building them, reading them back, and
// comparing host pixels readably.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "host/bitmap_storage.h"

using Pixels = std::vector<BMM_Color_64>; // row-major

inline bool operator==(const BMM_Color_64& a, const BMM_Color_64& b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}
inline bool operator!=(const BMM_Color_64& a, const BMM_Color_64& b)
{
    return !(a == b);
}
void PrintTo(const BMM_Color_64& pixel, std::ostream* out);

// Releases a storage (Release(1)) when it goes.
struct StorageDeleter {
    void operator()(BitmapStorage* storage) const
    {
        if (storage != nullptr)
            storage->Release(1);
    }
};

// A stand-in storage of width x height holding `pixels` (or zeros when
// `pixels` is empty), its own info carrying `aspect`.
BitmapStorage* MakeStorage(int width, int height, const Pixels& pixels, float aspect = 1.0f);
// Every row of the storage, through FetchRow.
Pixels ReadStorage(BitmapStorage* storage);

// Runs of equal pixels of lengths 1 to 300 mixed with single pixels, as a
// rendered frame has them; alpha varies too. Channels use all 16 bits.
Pixels MakeRunsPicture(int width, int height, uint32_t seed);
// Every channel of every pixel random.
Pixels MakeNoisePicture(int width, int height, uint32_t seed);

// What a picture becomes after a trip through an 8-bit file: each channel
// keeps its high byte; without alpha, alpha becomes 0.
Pixels HighBytesOnly(const Pixels& pixels, bool withAlpha);

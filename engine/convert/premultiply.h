// Straight and premultiplied alpha on a row of host pixels (four 16-bit
// channels each, 8-bit values << 8, or 16-bit values as they are). PIC alpha is carried byte for
// byte; these apply only when asked for (--premult, --unpremult). Both leave a pixel of alpha 255
// as it is; premultiplying makes alpha 0's colour 0, and unpremultiplying leaves it as it is
// (nothing to divide by).
#pragma once

#include <cstddef>
#include <cstdint>

// colour = round(colour * alpha / 255)
inline void PremultiplyRow(uint16_t* channels, size_t pixels)
{
    for (size_t index = 0; index < pixels; ++index, channels += 4) {
        const uint32_t alpha = channels[3] >> 8;
        for (int c = 0; c < 3; ++c)
            channels[c] = uint16_t((((channels[c] >> 8) * alpha + 127) / 255) << 8);
    }
}

// colour = round(colour * 255 / alpha), at most 255
inline void UnpremultiplyRow(uint16_t* channels, size_t pixels)
{
    for (size_t index = 0; index < pixels; ++index, channels += 4) {
        const uint32_t alpha = channels[3] >> 8;
        if (alpha == 0 || alpha == 255)
            continue;
        for (int c = 0; c < 3; ++c) {
            const uint32_t value = ((channels[c] >> 8) * 255 + alpha / 2) / alpha;
            channels[c] = uint16_t((value > 255 ? 255 : value) << 8);
        }
    }
}

// The same on a row of 16-bit values: colour = round(colour * 65535 /
// alpha), at most 65535.
inline void UnpremultiplyRow16(uint16_t* channels, size_t pixels)
{
    for (size_t index = 0; index < pixels; ++index, channels += 4) {
        const uint32_t alpha = channels[3];
        if (alpha == 0 || alpha == 65535)
            continue;
        for (int c = 0; c < 3; ++c) {
            const uint32_t value = (channels[c] * 65535u + alpha / 2) / alpha;
            channels[c] = uint16_t(value > 65535 ? 65535 : value);
        }
    }
}

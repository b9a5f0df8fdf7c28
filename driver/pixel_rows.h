// Conversions between one row of host pixels (four 16-bit channels) and the
// 8-bit bytes of a PIC row. File byte v becomes the channel v << 8; a channel
// becomes its high byte. Tight loops, 16 bytes at a time where the CPU has
// SSE2 (checked at run time in a 32-bit x86 build; see pic/cpu_vectors.h),
// one pixel at a time otherwise; results are the same.
#pragma once

#include <cstdint>

#include "host/bitmap_storage.h"

// Interleaved red, green, blue (3 * width bytes) and, when `alpha` is not
// null, `width` alpha bytes; without alpha, alpha is 0.
void WidenInterleavedRow(const uint8_t* rgb, const uint8_t* alpha, int width, BMM_Color_64* out);

// Red, green and blue arrays of `width` bytes, alpha as above.
void WidenPlanarRow(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                    const uint8_t* alpha, int width, BMM_Color_64* out);

// High bytes as interleaved red, green, blue: 3 * width bytes.
void NarrowToInterleaved(const BMM_Color_64* pixels, int width, uint8_t* rgb);

// High bytes into red, green and blue arrays, into `alpha` when it is not
// null, and in the same pass into `rgb` as interleaved red, green, blue
// (3 * width bytes) when it is not null.
void NarrowToPlanar(const BMM_Color_64* pixels, int width, uint8_t* red, uint8_t* green,
                    uint8_t* blue, uint8_t* alpha, uint8_t* rgb = nullptr);

// Alpha high bytes only.
void NarrowAlpha(const BMM_Color_64* pixels, int width, uint8_t* alpha);

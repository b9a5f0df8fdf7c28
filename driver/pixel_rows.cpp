#include "driver/pixel_rows.h"

#include <cstring>

#include "pic/cpu_vectors.h"

// A host pixel in memory (little-endian):
//   byte  0  1  2  3  4  5  6  7
//         0  R  0  G  0  B  0  A     (channel v << 8 from file byte v)
// Widening interleaves zero bytes below the file bytes; narrowing keeps the
// odd bytes. The vector loops do 4 to 16 pixels per step using only
// interleave, byte-shift, pack and mask operations, which SSE2 has as single
// instructions; each answers how many pixels it did, and the scalar loops
// finish the row.
//
// A 32-bit x86 build for any CPU (the plug-in DLL) compiles only the vector
// section for SSE2 and enters it when the CPU reports SSE2, so the rest of
// this file never holds an SSE instruction (see pic/cpu_vectors.h).

#if defined(PIC_SSE2_ONLY_IF_ASKED)
#pragma GCC push_options
#pragma GCC target("sse2")
#endif

namespace {

#if defined(PIC_SSE2_PATHS)
// Every function that takes or returns one of these stays inside this
// section: outside it a 32-bit build has no SSE registers to pass them in.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));
typedef uint8_t Bytes8 __attribute__((vector_size(8)));
typedef uint16_t Halves8 __attribute__((vector_size(16)));
typedef uint32_t Words4 __attribute__((vector_size(16)));
typedef uint64_t Longs2 __attribute__((vector_size(16)));

template <typename Vector> Vector Load(const void* from)
{
    Vector value;
    std::memcpy(&value, from, sizeof value);
    return value;
}

template <typename Vector> void Store(void* to, Vector value)
{
    std::memcpy(to, &value, sizeof value);
}

Bytes16 Join(Bytes8 low, Bytes8 high)
{
    return __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

// a0 b0 a1 b1 ... from the low (InterleaveLow) or high halves of a and b.
Bytes16 InterleaveLow(Bytes16 a, Bytes16 b)
{
    return __builtin_shufflevector(a, b, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
}
Bytes16 InterleaveHigh(Bytes16 a, Bytes16 b)
{
    return __builtin_shufflevector(a, b, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15,
                                   31);
}
Halves8 InterleaveLow(Halves8 a, Halves8 b)
{
    return __builtin_shufflevector(a, b, 0, 8, 1, 9, 2, 10, 3, 11);
}

// The odd bytes of a, then those of b.
Bytes16 OddBytes(Bytes16 a, Bytes16 b)
{
    return __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
}

// Bytes 0-2 of pixel k in bytes 4k..4k+2 (byte 4k+3 is junk): the 12 bytes
// of four interleaved pixels, from 16 bytes read at their start.
Words4 SpreadRgb(Bytes16 bytes)
{
    const Bytes16 zero = {};
    const Bytes16 from1 = __builtin_shufflevector(bytes, zero, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
                                                  14, 15, 16, 16, 16);
    const Bytes16 from2 = __builtin_shufflevector(bytes, zero, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                                                  16, 16, 16, 16, 16, 16);
    const Bytes16 from3 = __builtin_shufflevector(bytes, zero, 9, 10, 11, 12, 13, 14, 15, 16, 16,
                                                  16, 16, 16, 16, 16, 16, 16);
    const Words4 pixels01 = __builtin_shufflevector(Words4(bytes), Words4(from1), 0, 4, 1, 5);
    const Words4 pixels23 = __builtin_shufflevector(Words4(from2), Words4(from3), 0, 4, 1, 5);
    return Words4(__builtin_shufflevector(Longs2(pixels01), Longs2(pixels23), 0, 2));
}

// Four alpha bytes, each placed in byte 3 of its 32-bit lane.
Words4 AlphaLanes(const uint8_t* alpha)
{
    uint32_t four;
    std::memcpy(&four, alpha, sizeof four);
    const Bytes16 zero = {};
    const Bytes16 loaded = Bytes16(Words4{four, 0, 0, 0});
    const Halves8 halves = Halves8(InterleaveLow(zero, loaded));
    return Words4(InterleaveLow(Halves8(zero), halves));
}

// 4 pixels: the odd (high) bytes of 32 bytes of host pixels, r g b a each.
Bytes16 HighBytesOf4(const BMM_Color_64* pixels)
{
    return OddBytes(Load<Bytes16>(pixels), Load<Bytes16>(pixels + 2));
}

int WidenInterleavedVector(const uint8_t* rgb, const uint8_t* alpha, int width, BMM_Color_64* out)
{
    const Bytes16 zero = {};
    const Words4 rgbMask = {0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF};
    int i = 0;
    // Each step reads 16 bytes from 3 * i: within the 3 * width while i + 6 <= width.
    for (; i + 6 <= width; i += 4) {
        Words4 pixels = SpreadRgb(Load<Bytes16>(rgb + 3 * i)) & rgbMask;
        if (alpha != nullptr)
            pixels |= AlphaLanes(alpha + i);
        Store(out + i, InterleaveLow(zero, Bytes16(pixels)));
        Store(out + i + 2, InterleaveHigh(zero, Bytes16(pixels)));
    }
    return i;
}

int WidenPlanarVector(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                      const uint8_t* alpha, int width, BMM_Color_64* out)
{
    const Bytes16 zero = {};
    const Bytes8 noAlpha = {};
    int i = 0;
    for (; i + 8 <= width; i += 8) {
        const Bytes16 redGreen = Join(Load<Bytes8>(red + i), Load<Bytes8>(green + i));
        const Bytes16 blueAlpha =
            Join(Load<Bytes8>(blue + i), alpha != nullptr ? Load<Bytes8>(alpha + i) : noAlpha);
        const Bytes16 redBlue = InterleaveLow(redGreen, blueAlpha);
        const Bytes16 greenAlpha = InterleaveHigh(redGreen, blueAlpha);
        const Bytes16 first4 = InterleaveLow(redBlue, greenAlpha); // r g b a, pixels 0-3
        const Bytes16 last4 = InterleaveHigh(redBlue, greenAlpha); // pixels 4-7
        Store(out + i, InterleaveLow(zero, first4));
        Store(out + i + 2, InterleaveHigh(zero, first4));
        Store(out + i + 4, InterleaveLow(zero, last4));
        Store(out + i + 6, InterleaveHigh(zero, last4));
    }
    return i;
}

// The red, green and blue of 4 pixels (r g b a each) as 12 interleaved
// bytes at `rgb`, in two stores of 8: the 2 bytes after them are overwritten.
void StoreRgbOf4(uint8_t* rgb, Bytes16 fourPixels)
{
    const Longs2 firstMask = {0x0000000000FFFFFF, 0x0000000000FFFFFF};
    const Longs2 secondMask = {0x0000FFFFFF000000, 0x0000FFFFFF000000};
    const Longs2 pairs = Longs2(fourPixels); // r g b a r g b a per lane
    const Longs2 packed = (pairs & firstMask) | ((pairs >> 8) & secondMask);
    const uint64_t first = packed[0];
    const uint64_t second = packed[1];
    std::memcpy(rgb, &first, 8);
    std::memcpy(rgb + 6, &second, 8);
}

int NarrowToInterleavedVector(const BMM_Color_64* pixels, int width, uint8_t* rgb)
{
    int i = 0;
    // Each step stores up to 3 * i + 14: within 3 * width while i + 6 <= width.
    for (; i + 6 <= width; i += 4)
        StoreRgbOf4(rgb + 3 * i, HighBytesOf4(pixels + i));
    return i;
}

// Two loops, with and without `rgb`, so that the one without is as tight as
// if there were no such choice.
template <bool kWithRgb>
int NarrowToPlanarVector(const BMM_Color_64* pixels, int width, uint8_t* red, uint8_t* green,
                         uint8_t* blue, uint8_t* alpha, uint8_t* rgb)
{
    // With `rgb`, each step stores up to 3 * i + 50: within 3 * width while
    // i + 17 <= width.
    const int stop = kWithRgb ? width - 1 : width;
    int i = 0;
    for (; i + 16 <= stop; i += 16) {
        const Bytes16 pixels0 = HighBytesOf4(pixels + i); // r g b a, 4 pixels each
        const Bytes16 pixels1 = HighBytesOf4(pixels + i + 4);
        const Bytes16 pixels2 = HighBytesOf4(pixels + i + 8);
        const Bytes16 pixels3 = HighBytesOf4(pixels + i + 12);
        // Three rounds of interleaving gather each channel's bytes in
        // order, eight to a half: r0..r7 g0..g7 and b0..b7 a0..a7, then the
        // same for pixels 8-15.
        const Bytes16 low = InterleaveLow(pixels0, pixels1); // r0 r4 g0 g4 ... a1 a5
        const Bytes16 high = InterleaveHigh(pixels0, pixels1);
        const Bytes16 low2 = InterleaveLow(pixels2, pixels3);
        const Bytes16 high2 = InterleaveHigh(pixels2, pixels3);
        const Bytes16 even = InterleaveLow(low, high); // r0 r2 r4 r6 ... a6
        const Bytes16 odd = InterleaveHigh(low, high);
        const Bytes16 even2 = InterleaveLow(low2, high2);
        const Bytes16 odd2 = InterleaveHigh(low2, high2);
        const Longs2 redGreen0 = Longs2(InterleaveLow(even, odd)); // r0..r7 g0..g7
        const Longs2 blueAlpha0 = Longs2(InterleaveHigh(even, odd));
        const Longs2 redGreen1 = Longs2(InterleaveLow(even2, odd2));
        const Longs2 blueAlpha1 = Longs2(InterleaveHigh(even2, odd2));
        Store(red + i, __builtin_shufflevector(redGreen0, redGreen1, 0, 2));
        Store(green + i, __builtin_shufflevector(redGreen0, redGreen1, 1, 3));
        Store(blue + i, __builtin_shufflevector(blueAlpha0, blueAlpha1, 0, 2));
        if (alpha != nullptr)
            Store(alpha + i, __builtin_shufflevector(blueAlpha0, blueAlpha1, 1, 3));
        if (kWithRgb) {
            StoreRgbOf4(rgb + 3 * i, pixels0);
            StoreRgbOf4(rgb + 3 * i + 12, pixels1);
            StoreRgbOf4(rgb + 3 * i + 24, pixels2);
            StoreRgbOf4(rgb + 3 * i + 36, pixels3);
        }
    }
    return i;
}

int NarrowAlphaVector(const BMM_Color_64* pixels, int width, uint8_t* alpha)
{
    int i = 0;
    for (; i + 16 <= width; i += 16) {
        const Bytes16 greenAlpha0 =
            OddBytes(HighBytesOf4(pixels + i), HighBytesOf4(pixels + i + 4));
        const Bytes16 greenAlpha1 =
            OddBytes(HighBytesOf4(pixels + i + 8), HighBytesOf4(pixels + i + 12));
        Store(alpha + i, OddBytes(greenAlpha0, greenAlpha1));
    }
    return i;
}
#endif

} // namespace

#if defined(PIC_SSE2_ONLY_IF_ASKED)
#pragma GCC pop_options
#endif

namespace {

void WidenScalar(const uint8_t* red, const uint8_t* green, const uint8_t* blue, int step,
                 const uint8_t* alpha, int from, int width, BMM_Color_64* out)
{
    for (int i = from; i < width; ++i) {
        out[i].r = uint16_t(red[step * i] << 8);
        out[i].g = uint16_t(green[step * i] << 8);
        out[i].b = uint16_t(blue[step * i] << 8);
        out[i].a = alpha != nullptr ? uint16_t(alpha[i] << 8) : uint16_t(0);
    }
}

} // namespace

// How many pixels the vector loop did: none where it is not built or not taken.
#if !defined(PIC_SSE2_PATHS)
#define PIC_VECTOR_CALL(call) 0
#else
#define PIC_VECTOR_CALL(call) (UseVectorPaths() ? (call) : 0)
#endif

void WidenInterleavedRow(const uint8_t* rgb, const uint8_t* alpha, int width, BMM_Color_64* out)
{
    const int done = PIC_VECTOR_CALL(WidenInterleavedVector(rgb, alpha, width, out));
    // An empty row may come with no array at all: form no pointer into it.
    if (done < width)
        WidenScalar(rgb, rgb + 1, rgb + 2, 3, alpha, done, width, out);
}

void WidenPlanarRow(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                    const uint8_t* alpha, int width, BMM_Color_64* out)
{
    const int done = PIC_VECTOR_CALL(WidenPlanarVector(red, green, blue, alpha, width, out));
    WidenScalar(red, green, blue, 1, alpha, done, width, out);
}

void NarrowToInterleaved(const BMM_Color_64* pixels, int width, uint8_t* rgb)
{
    for (int i = PIC_VECTOR_CALL(NarrowToInterleavedVector(pixels, width, rgb)); i < width; ++i) {
        rgb[3 * i] = uint8_t(pixels[i].r >> 8);
        rgb[3 * i + 1] = uint8_t(pixels[i].g >> 8);
        rgb[3 * i + 2] = uint8_t(pixels[i].b >> 8);
    }
}

void NarrowToPlanar(const BMM_Color_64* pixels, int width, uint8_t* red, uint8_t* green,
                    uint8_t* blue, uint8_t* alpha, uint8_t* rgb)
{
    const int done = PIC_VECTOR_CALL(
        rgb != nullptr ? NarrowToPlanarVector<true>(pixels, width, red, green, blue, alpha, rgb)
                       : NarrowToPlanarVector<false>(pixels, width, red, green, blue, alpha, rgb));
    for (int i = done; i < width; ++i) {
        red[i] = uint8_t(pixels[i].r >> 8);
        green[i] = uint8_t(pixels[i].g >> 8);
        blue[i] = uint8_t(pixels[i].b >> 8);
        if (alpha != nullptr)
            alpha[i] = uint8_t(pixels[i].a >> 8);
    }
    if (rgb != nullptr && done < width)
        NarrowToInterleaved(pixels + done, width - done, rgb + 3 * done);
}

void NarrowAlpha(const BMM_Color_64* pixels, int width, uint8_t* alpha)
{
    for (int i = PIC_VECTOR_CALL(NarrowAlphaVector(pixels, width, alpha)); i < width; ++i)
        alpha[i] = uint8_t(pixels[i].a >> 8);
}

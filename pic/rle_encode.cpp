#include <algorithm>
#include <cstring>

#include "pic/byte_writers.h"
#include "pic/cpu_vectors.h"
#include "pic/rle_codec.h"

// Both encoders run one algorithm over two kinds of row (one channel, the
// colour group), into the caller's buffer:
//   run of L = 2..127   L + 127, pixel
//   run of L >= 128     128, L (16 bits, high byte first), pixel
//   literal of n        n - 1 (0..127), n pixels
// A run longer than a 16-bit count holds (only rows wider than any PIC row)
// goes out as several long runs, so the stream stays decodable.
//
// Finding where a run or a literal stretch ends is most of the work, and
// most runs and stretches in a picture are short. The scans read a bit per
// adjacent pair of pixels (set where the two are equal), 64 pairs to a word,
// each word made once as the scans reach it: sixteen pairs a step in vectors
// where the CPU has SSE2, else eight in a 64-bit word, and a pair at a time
// at the row's end. Finding an end then costs a shift and a count of
// trailing zeros, and one step more per 64 pixels of a long run or stretch.

namespace {

constexpr int kLongestLiteral = 128;
constexpr int kShortestLongRun = 128;
constexpr int kLongestRun = 0xFFFF;
constexpr unsigned kBlockPairs = 64;

// Eight adjacent pairs at once: byte k of a difference word is nonzero when
// pixel index + k differs from pixel index + k + 1. Little-endian hosts only
// (x86 for both builds); elsewhere the pair-by-pair loop does all the work.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr int kWordPairs = 8;
#else
constexpr int kWordPairs = 0;
#endif

inline uint64_t LoadWord(const uint8_t* bytes)
{
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Bit k set where byte k of `word` is zero.
inline unsigned ZeroByteBits(uint64_t word)
{
    constexpr uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    const uint64_t zeroTops = ~(((word & low7) + low7) | word | low7); // 0x80 in each zero byte
    // Gathers bit 0 of each byte into bits 56..63.
    return unsigned(((zeroTops >> 7) * 0x0102040810204080ull) >> 56);
}

// A row's pixels: `kPlanes` arrays of one byte per pixel (red, green, blue
// for the colour group; one for a single channel), compared plane by plane
// and written out interleaved: copied from `interleaved` (kPlanes bytes a
// pixel) where the caller has the row in that form too, else gathered.
template <size_t kPlanes> struct PlanePixels {
    static constexpr int kBytesPerPixel = int(kPlanes);
    const uint8_t* plane[kPlanes];
    const uint8_t* interleaved;

    bool Equal(int first, int second) const
    {
        for (const uint8_t* values : plane)
            if (values[first] != values[second])
                return false;
        return true;
    }
    uint64_t Differences(int index) const
    {
        uint64_t differences = 0;
        for (const uint8_t* values : plane)
            differences |= LoadWord(values + index) ^ LoadWord(values + index + 1);
        return differences;
    }
    void StorePixel(uint8_t* out, int index) const
    {
        uint8_t pixel[kPlanes]; // all loads before the stores, which may alias
        for (size_t p = 0; p < kPlanes; ++p)
            pixel[p] = plane[p][index];
        std::memcpy(out, pixel, kPlanes);
    }
    void Store(uint8_t* out, int position, int pixels) const
    {
        if (interleaved != nullptr) {
            std::memcpy(out, interleaved + kPlanes * size_t(position), kPlanes * size_t(pixels));
            return;
        }
        for (int index = position; index < position + pixels; ++index)
            for (const uint8_t* values : plane)
                *out++ = values[index];
    }
};
using ChannelPixels = PlanePixels<1>;
using RgbPixels = PlanePixels<3>;

// Sixteen adjacent pairs at once: bit k of an equality mask is set when
// pixel index + k equals pixel index + k + 1, so a step costs one compare
// per channel and one mask.
#if defined(PIC_SSE2_ONLY_IF_ASKED)
#pragma GCC push_options
#pragma GCC target("sse2")
#endif
#if defined(PIC_SSE2_PATHS)
// Every function that takes or returns one of these stays inside this
// section: outside it a 32-bit build has no SSE registers to pass them in.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));
typedef char Chars16 __attribute__((vector_size(16)));
constexpr int kVectorPairs = 16;

// 0xFF in each byte where bytes[k] == bytes[k + 1], 0 elsewhere: reads
// bytes[0] .. bytes[16].
inline Bytes16 EqualToNext(const uint8_t* bytes)
{
    Bytes16 here, next;
    std::memcpy(&here, bytes, sizeof here);
    std::memcpy(&next, bytes + 1, sizeof next);
    return Bytes16(here == next);
}

template <size_t kPlanes> inline unsigned EqualPairs(const PlanePixels<kPlanes>& pixels, int index)
{
    Bytes16 equal = EqualToNext(pixels.plane[0] + index);
    for (size_t p = 1; p < kPlanes; ++p)
        equal &= EqualToNext(pixels.plane[p] + index);
    return unsigned(__builtin_ia32_pmovmskb128(Chars16(equal)));
}

// The bits of the 64 pairs from `base`, whose pixels (base .. base + 64)
// all lie within the row.
template <class Pixels> uint64_t VectorBlockBits(const Pixels& pixels, int base)
{
    return uint64_t(EqualPairs(pixels, base)) |
           uint64_t(EqualPairs(pixels, base + kVectorPairs)) << kVectorPairs |
           uint64_t(EqualPairs(pixels, base + 2 * kVectorPairs)) << 2 * kVectorPairs |
           uint64_t(EqualPairs(pixels, base + 3 * kVectorPairs)) << 3 * kVectorPairs;
}
#endif
#if defined(PIC_SSE2_ONLY_IF_ASKED)
#pragma GCC pop_options
#endif

// The equal-pair bits of one row, a block of 64 pairs at a time: bit k of
// block b is set when pixel 64b + k equals pixel 64b + k + 1. A pair that
// would reach past the row's last pixel counts as unequal, so every scan
// ends within the row. The last block made is kept: a row's scans only move
// forward, and so make each block once.
template <class Pixels> class PairScan {
public:
    PairScan(const Pixels& rowPixels, int rowWidth, bool useVectors)
        : pixels(rowPixels), width(rowWidth), vectors(useVectors)
    {
    }

    // The first index after `position` whose pixel differs from its
    // predecessor, or `width`.
    int RunEnd(int position)
    {
        unsigned block = unsigned(position) / kBlockPairs;
        uint64_t unequal = ~Block(block) >> (unsigned(position) % kBlockPairs);
        while (unequal == 0) {
            position = int(++block * kBlockPairs);
            unequal = ~Block(block);
        }
        return position + __builtin_ctzll(unequal) + 1;
    }

    // The end of the literal stretch from `position`: the first pixel that
    // equals its successor, or the row's last pixel, whichever comes first.
    // The last pixel alone when `position` is the last.
    int LiteralEnd(int position)
    {
        if (position + 1 >= width)
            return width;
        unsigned block = unsigned(position) / kBlockPairs;
        uint64_t equal = Block(block) >> (unsigned(position) % kBlockPairs);
        while (equal == 0) {
            // Only the pairs up to the last pixel's can be equal.
            position = int(++block * kBlockPairs);
            if (position >= width - 1)
                return width - 1;
            equal = Block(block);
        }
        return position + __builtin_ctzll(equal);
    }

private:
    uint64_t Block(unsigned block)
    {
        if (block != madeBlock) {
            madeBlock = block;
            madeBits = MakeBlock(int(block * kBlockPairs));
        }
        return madeBits;
    }

    // The pairs from `base` whose pixels lie within the row: up to 64, up to
    // the pair that ends at the last pixel. Kept out of line, so that the
    // scans, which call it once a block, stay small.
    __attribute__((noinline)) uint64_t MakeBlock(int base) const
    {
        // base <= width - 1: a scan makes the next block only where the
        // one before held nothing but pairs within the row.
        const int last = base + std::min(int(kBlockPairs), width - 1 - base);
#if defined(PIC_SSE2_PATHS)
        if (vectors && last == base + int(kBlockPairs))
            return VectorBlockBits(pixels, base);
#endif
        uint64_t bits = 0;
        int index = base;
        // A word reads the pixels index .. index + 8.
        for (; kWordPairs != 0 && index + kWordPairs <= last; index += kWordPairs)
            bits |= uint64_t(ZeroByteBits(pixels.Differences(index))) << (index - base);
        for (; index < last; ++index)
            bits |= uint64_t(pixels.Equal(index, index + 1) ? 1 : 0) << (index - base);
        return bits;
    }

    const Pixels& pixels;
    int width;
    bool vectors;
    unsigned madeBlock = ~0u;
    uint64_t madeBits = 0;
};

// Assembles each packet in place at `cursor`, which has room for the row
// (see MaxEncodedRgbRow).
template <class Pixels> struct BufferWriter {
    const Pixels& pixels;
    uint8_t* cursor;

    void Run(int position, int length)
    {
        if (length >= kShortestLongRun) {
            cursor[0] = kShortestLongRun;
            StoreBigEndian16(cursor + 1, unsigned(length));
            cursor += 3;
        } else {
            *cursor++ = uint8_t(length + 127);
        }
        pixels.StorePixel(cursor, position);
        cursor += Pixels::kBytesPerPixel;
    }
    void Literal(int position, int count)
    {
        *cursor++ = uint8_t(count - 1);
        pixels.Store(cursor, position, count);
        cursor += size_t(count) * Pixels::kBytesPerPixel;
    }
};

template <class Pixels> ptrdiff_t EncodeRow(const Pixels& pixels, uint8_t* out, int width)
{
    if (width < 0)
        return -1;
    PairScan<Pixels> scan(pixels, width, UseVectorPaths());
    BufferWriter<Pixels> writer{pixels, out};
    int position = 0;
    while (position < width) {
        const int runLength = std::min(scan.RunEnd(position) - position, kLongestRun);
        if (runLength >= 2) {
            writer.Run(position, runLength);
            position += runLength;
            continue;
        }
        const int stretchEnd = scan.LiteralEnd(position);
        while (position < stretchEnd) {
            const int count = std::min(stretchEnd - position, kLongestLiteral);
            writer.Literal(position, count);
            position += count;
        }
    }
    return writer.cursor - out;
}

} // namespace

ptrdiff_t EncodeRgbRow(uint8_t* out, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                       int width)
{
    return EncodeRow(RgbPixels{{red, green, blue}, nullptr}, out, width);
}

ptrdiff_t EncodeRgbRow(uint8_t* out, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                       const uint8_t* rgb, int width)
{
    return EncodeRow(RgbPixels{{red, green, blue}, rgb}, out, width);
}

ptrdiff_t EncodeChannelRow(uint8_t* out, const uint8_t* values, int width)
{
    return EncodeRow(ChannelPixels{{values}, values}, out, width);
}

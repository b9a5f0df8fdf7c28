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
// Finding where a run or a literal stretch ends is most of the work. Pairs
// of adjacent pixels are compared eight at a time in a 64-bit word, and past
// the first few words, where the CPU has SSE2, sixteen at a time in vectors;
// a pair at a time finishes the row.

namespace {

constexpr int kLongestLiteral = 128;
constexpr int kShortestLongRun = 128;
constexpr int kLongestRun = 0xFFFF;

// Eight adjacent pairs at once: byte k of a difference word is nonzero when
// pixel index + k differs from pixel index + k + 1. Little-endian hosts only
// (x86 for both builds); elsewhere the pair-by-pair loops do all the work.
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

// The byte index of the lowest nonzero byte of a nonzero word.
inline int LowestNonzeroByte(uint64_t word)
{
    return __builtin_ctzll(word) / 8;
}

// A word with the top bit set in exactly the lowest zero byte of `word` (and
// possibly in bytes above it), zero when no byte is zero.
inline uint64_t ZeroBytes(uint64_t word)
{
    return (word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull;
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
// per channel and one mask. Each scan answers true with `index` at the end
// it looked for, or false with `index` where the pair loops go on.
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
constexpr unsigned kAllPairsEqual = 0xFFFF;

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

template <class Pixels> bool VectorRunEnd(const Pixels& pixels, int& index, int width)
{
    // A step reads the pixels index .. index + 16.
    for (; index <= width - 1 - kVectorPairs; index += kVectorPairs) {
        const unsigned equalPairs = EqualPairs(pixels, index);
        if (equalPairs != kAllPairsEqual) {
            index += __builtin_ctz(~equalPairs) + 1;
            return true;
        }
    }
    return false;
}

template <class Pixels> bool VectorLiteralEnd(const Pixels& pixels, int& index, int width)
{
    for (; index <= width - 1 - kVectorPairs; index += kVectorPairs) {
        const unsigned equalPairs = EqualPairs(pixels, index);
        if (equalPairs != 0) {
            index += __builtin_ctz(equalPairs);
            return true;
        }
    }
    return false;
}
#endif
#if defined(PIC_SSE2_ONLY_IF_ASKED)
#pragma GCC pop_options
#endif

// Words from `index` while it is below `stopAt`: true with `index` at the
// end of the run (RunEnd) or literal stretch (LiteralEnd) when a word holds
// it, false with `index` where the next loop goes on.
template <class Pixels> bool WordRunEnd(const Pixels& pixels, int& index, int width, int stopAt)
{
    if (kWordPairs == 0)
        return false;
    // A word reads the pixels index .. index + 8.
    for (; index < stopAt && index <= width - 1 - kWordPairs; index += kWordPairs) {
        const uint64_t differences = pixels.Differences(index);
        if (differences != 0) {
            index += LowestNonzeroByte(differences) + 1;
            return true;
        }
    }
    return false;
}

template <class Pixels> bool WordLiteralEnd(const Pixels& pixels, int& index, int width, int stopAt)
{
    if (kWordPairs == 0)
        return false;
    for (; index < stopAt && index <= width - 1 - kWordPairs; index += kWordPairs) {
        const uint64_t equalPairs = ZeroBytes(pixels.Differences(index));
        if (equalPairs != 0) {
            index += LowestNonzeroByte(equalPairs);
            return true;
        }
    }
    return false;
}

// Most runs and literal stretches in a picture are short, and where one ends
// is where the next scan starts: the word compares, whose answer comes
// soonest, take the first kShortScan pairs; the vector loop takes the rest
// of a longer one, and the words what it leaves.
constexpr int kShortScan = 16;

// The first index after `position` whose pixel differs from its
// predecessor, or `width`.
template <class Pixels> int RunEnd(const Pixels& pixels, int position, int width, bool vectors)
{
    int index = position;
    if (WordRunEnd(pixels, index, width, position + kShortScan))
        return index;
#if defined(PIC_SSE2_PATHS)
    if (vectors && VectorRunEnd(pixels, index, width))
        return index;
#else
    (void)vectors;
#endif
    if (WordRunEnd(pixels, index, width, width))
        return index;
    while (index + 1 < width && pixels.Equal(index, index + 1))
        ++index;
    return index + 1;
}

// The end of the literal stretch from `position`: the first pixel that
// equals its successor, or the row's last pixel, whichever comes first. The
// last pixel alone when `position` is the last.
template <class Pixels> int LiteralEnd(const Pixels& pixels, int position, int width, bool vectors)
{
    if (position + 1 >= width)
        return width;
    int index = position;
    if (WordLiteralEnd(pixels, index, width, position + kShortScan))
        return index;
#if defined(PIC_SSE2_PATHS)
    if (vectors && VectorLiteralEnd(pixels, index, width))
        return index;
#else
    (void)vectors;
#endif
    if (WordLiteralEnd(pixels, index, width, width))
        return index;
    while (index + 1 < width && !pixels.Equal(index, index + 1))
        ++index;
    return index;
}

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
        pixels.Store(cursor, position, 1);
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
    const bool vectors = UseVectorPaths();
    BufferWriter<Pixels> writer{pixels, out};
    int position = 0;
    while (position < width) {
        const int runLength =
            std::min(RunEnd(pixels, position, width, vectors) - position, kLongestRun);
        if (runLength >= 2) {
            writer.Run(position, runLength);
            position += runLength;
            continue;
        }
        const int stretchEnd = LiteralEnd(pixels, position, width, vectors);
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

#include <algorithm>
#include <cstring>

#include "pic/byte_writers.h"
#include "pic/rle_codec.h"

// Both encoders run one algorithm over two kinds of writer (a C stream
// through PutByte/PutBigEndian16, our buffered sink) and two kinds of row
// (one channel, the colour group).
//   run of L = 2..127   L + 127, pixel
//   run of L >= 128     128, L (16 bits, high byte first), pixel
//   literal of n        n - 1 (0..127), n pixels
// A run longer than a 16-bit count holds (only rows wider than any PIC row)
// goes out as several long runs, so the stream stays decodable.

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

// Sixteen adjacent pairs at once where the compiler may use SSE2 (every
// x86-64 build): bit k of an equality mask is set when pixel index + k
// equals pixel index + k + 1. Scanning a stretch then takes one compare per
// channel and one mask per sixteen pixels; the word loop and the
// pair-by-pair loop finish the row.
#if defined(__SSE2__)
#define PIC_RLE_SSE2 1
constexpr int kVectorPairs = 16;
constexpr unsigned kAllPairsEqual = 0xFFFF;
typedef uint8_t Bytes16 __attribute__((vector_size(16)));
typedef char Chars16 __attribute__((vector_size(16)));

// 0xFF in each byte where bytes[k] == bytes[k + 1], 0 elsewhere: reads
// bytes[0] .. bytes[16].
inline Bytes16 EqualToNext(const uint8_t* bytes)
{
    Bytes16 here, next;
    std::memcpy(&here, bytes, sizeof here);
    std::memcpy(&next, bytes + 1, sizeof next);
    return Bytes16(here == next);
}

inline unsigned ByteMask(Bytes16 lanes)
{
    return unsigned(__builtin_ia32_pmovmskb128(Chars16(lanes)));
}
#endif

// Thirty-two pairs at once where an x86-64 CPU has AVX2 (asked once at run
// time), for the long runs of a background or an unused alpha channel and the
// long literal stretches of a noisy picture: a scan that has passed its
// first pairs without finding the end skips whole 32-pair steps, then the
// 16-pair loop goes on from the step that holds the end. Every function that
// takes or returns a 32-byte vector has the AVX2 target.
#if defined(PIC_RLE_SSE2) && defined(__x86_64__)
#define PIC_RLE_AVX2 1
#define PIC_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline
constexpr int kWidePairs = 32;
typedef uint8_t Bytes32 __attribute__((vector_size(32)));
typedef char Chars32 __attribute__((vector_size(32)));

// Asked once, at start-up; a row encoded before then takes the 16-pair loop.
const bool cpuHasAvx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);

// As EqualToNext, 32 bytes: reads bytes[0] .. bytes[32].
PIC_AVX2_INLINE Bytes32 EqualToNext32(const uint8_t* bytes)
{
    Bytes32 here, next;
    std::memcpy(&here, bytes, sizeof here);
    std::memcpy(&next, bytes + 1, sizeof next);
    return Bytes32(here == next);
}

PIC_AVX2_INLINE uint32_t ByteMask32(Bytes32 lanes)
{
    return uint32_t(__builtin_ia32_pmovmskb256(Chars32(lanes)));
}
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

struct ChannelPixels {
    static constexpr int kBytesPerPixel = 1;
    const uint8_t* values;

    bool Equal(int first, int second) const { return values[first] == values[second]; }
    uint64_t Differences(int index) const
    {
        return LoadWord(values + index) ^ LoadWord(values + index + 1);
    }
#if defined(PIC_RLE_SSE2)
    unsigned EqualPairs(int index) const
    {
        return ByteMask(EqualToNext(values + index));
    }
#endif
#if defined(PIC_RLE_AVX2)
    PIC_AVX2_INLINE uint32_t EqualPairs32(int index) const
    {
        return ByteMask32(EqualToNext32(values + index));
    }
#endif
    void Store(uint8_t* out, int position, int pixels) const
    {
        std::memcpy(out, values + position, size_t(pixels));
    }
};

struct RgbPixels {
    static constexpr int kBytesPerPixel = 3;
    const uint8_t* red;
    const uint8_t* green;
    const uint8_t* blue;

    bool Equal(int first, int second) const
    {
        return red[first] == red[second] && green[first] == green[second] &&
               blue[first] == blue[second];
    }
    uint64_t Differences(int index) const
    {
        return (LoadWord(red + index) ^ LoadWord(red + index + 1)) |
               (LoadWord(green + index) ^ LoadWord(green + index + 1)) |
               (LoadWord(blue + index) ^ LoadWord(blue + index + 1));
    }
#if defined(PIC_RLE_SSE2)
    unsigned EqualPairs(int index) const
    {
        return ByteMask(EqualToNext(red + index) & EqualToNext(green + index) &
                        EqualToNext(blue + index));
    }
#endif
#if defined(PIC_RLE_AVX2)
    PIC_AVX2_INLINE uint32_t EqualPairs32(int index) const
    {
        return ByteMask32(EqualToNext32(red + index) & EqualToNext32(green + index) &
                          EqualToNext32(blue + index));
    }
#endif
    // Interleaves `pixels` pixels from `position` as red-green-blue triples.
    void Store(uint8_t* out, int position, int pixels) const
    {
        for (int index = position; index < position + pixels; ++index) {
            out[0] = red[index];
            out[1] = green[index];
            out[2] = blue[index];
            out += 3;
        }
    }
};

// Writes each packet as it is formed, byte by byte.
template <class Pixels> struct FileWriter {
    FILE* file;
    const Pixels& pixels;

    void Pixel(int position)
    {
        uint8_t bytes[Pixels::kBytesPerPixel];
        pixels.Store(bytes, position, 1);
        for (uint8_t value : bytes)
            PutByte(file, value);
    }
    void Run(int position, int length)
    {
        if (length >= kShortestLongRun) {
            PutByte(file, kShortestLongRun);
            ::PutBigEndian16(file, length);
        } else {
            PutByte(file, length + 127);
        }
        Pixel(position);
    }
    void Literal(int position, int count)
    {
        PutByte(file, count - 1);
        for (int index = position; index < position + count; ++index)
            Pixel(index);
    }
};

// A caller's buffer, large enough for the row (see MaxEncodedRgbRow).
struct BufferTarget {
    uint8_t* cursor;

    uint8_t* Claim(size_t count)
    {
        uint8_t* out = cursor;
        cursor += count;
        return out;
    }
};

// Assembles each packet in place, in room claimed from the target: our
// buffered sink, or a caller's buffer (BufferTarget).
template <class Pixels, class Target> struct ClaimWriter {
    Target& sink;
    const Pixels& pixels;

    void Run(int position, int length)
    {
        if (length >= kShortestLongRun) {
            uint8_t* out = sink.Claim(3 + Pixels::kBytesPerPixel);
            out[0] = kShortestLongRun;
            StoreBigEndian16(out + 1, unsigned(length));
            pixels.Store(out + 3, position, 1);
        } else {
            uint8_t* out = sink.Claim(1 + Pixels::kBytesPerPixel);
            out[0] = uint8_t(length + 127);
            pixels.Store(out + 1, position, 1);
        }
    }
    void Literal(int position, int count)
    {
        uint8_t* out = sink.Claim(1 + size_t(count) * Pixels::kBytesPerPixel);
        out[0] = uint8_t(count - 1);
        pixels.Store(out + 1, position, count);
    }
};

// From `index`: the first index after it whose pixel differs from its
// predecessor, or `width`.
template <class Pixels> inline int FinishRun(const Pixels& pixels, int index, int width)
{
    // The pair (index, index + 1) is compared next.
#if defined(PIC_RLE_SSE2)
    // A step reads the pixels index .. index + 16.
    for (; index <= width - 1 - kVectorPairs; index += kVectorPairs) {
        const unsigned equalPairs = pixels.EqualPairs(index);
        if (equalPairs != kAllPairsEqual)
            return index + __builtin_ctz(~equalPairs) + 1;
    }
#endif
    if (kWordPairs != 0) {
        // A word reads the pixels index .. index + 8.
        for (; index <= width - 1 - kWordPairs; index += kWordPairs) {
            const uint64_t differences = pixels.Differences(index);
            if (differences != 0)
                return index + LowestNonzeroByte(differences) + 1;
        }
    }
    while (index + 1 < width && pixels.Equal(index, index + 1))
        ++index;
    return index + 1;
}

// From `index`: the first pixel that equals its successor, or the row's
// last pixel.
template <class Pixels> inline int FinishLiteral(const Pixels& pixels, int index, int width)
{
#if defined(PIC_RLE_SSE2)
    for (; index <= width - 1 - kVectorPairs; index += kVectorPairs) {
        const unsigned equalPairs = pixels.EqualPairs(index);
        if (equalPairs != 0)
            return index + __builtin_ctz(equalPairs);
    }
#endif
    if (kWordPairs != 0) {
        for (; index <= width - 1 - kWordPairs; index += kWordPairs) {
            const uint64_t equalPairs = ZeroBytes(pixels.Differences(index));
            if (equalPairs != 0)
                return index + LowestNonzeroByte(equalPairs);
        }
    }
    while (index + 1 < width && !pixels.Equal(index, index + 1))
        ++index;
    return index;
}

#if defined(PIC_RLE_AVX2)
// FinishRun and FinishLiteral after skipping every 32-pair step whose pairs
// are all equal (all different). Out of line, so that the usual short run or
// literal costs its caller no saved registers.
template <class Pixels>
__attribute__((target("avx2"), noinline)) int FinishLongRun(const Pixels& pixels, int index,
                                                            int width)
{
    // A step reads the pixels index .. index + 32.
    while (index <= width - 1 - kWidePairs && pixels.EqualPairs32(index) == 0xFFFFFFFFu)
        index += kWidePairs;
    return FinishRun(pixels, index, width);
}

template <class Pixels>
__attribute__((target("avx2"), noinline)) int FinishLongLiteral(const Pixels& pixels, int index,
                                                                int width)
{
    while (index <= width - 1 - kWidePairs && pixels.EqualPairs32(index) == 0)
        index += kWidePairs;
    return FinishLiteral(pixels, index, width);
}
#endif

// Most runs and literal stretches in a picture are short, and where one ends
// is where the next scan starts: the word compares, whose answer comes
// soonest, take the first kShortScan pairs; the vector loops take the rest
// of a longer one.
constexpr int kShortScan = 16;

// The first index after `position` whose pixel differs from its
// predecessor, or `width`.
template <class Pixels> int RunEnd(const Pixels& pixels, int position, int width)
{
    int index = position;
    if (kWordPairs != 0) {
        for (; index - position < kShortScan && index <= width - 1 - kWordPairs;
             index += kWordPairs) {
            const uint64_t differences = pixels.Differences(index);
            if (differences != 0)
                return index + LowestNonzeroByte(differences) + 1;
        }
    }
#if defined(PIC_RLE_AVX2)
    if (cpuHasAvx2)
        return FinishLongRun(pixels, index, width);
#endif
    return FinishRun(pixels, index, width);
}

// The end of the literal stretch from `position`: the first pixel that
// equals its successor, or the row's last pixel, whichever comes first. The
// last pixel alone when `position` is the last.
template <class Pixels> int LiteralEnd(const Pixels& pixels, int position, int width)
{
    if (position + 1 >= width)
        return width;
    int index = position;
    if (kWordPairs != 0) {
        for (; index - position < kShortScan && index <= width - 1 - kWordPairs;
             index += kWordPairs) {
            const uint64_t equalPairs = ZeroBytes(pixels.Differences(index));
            if (equalPairs != 0)
                return index + LowestNonzeroByte(equalPairs);
        }
    }
#if defined(PIC_RLE_AVX2)
    if (cpuHasAvx2)
        return FinishLongLiteral(pixels, index, width);
#endif
    return FinishLiteral(pixels, index, width);
}

template <class Pixels, class Writer> int EncodeRow(const Pixels& pixels, Writer& writer, int width)
{
    if (width < 0)
        return 0;
    int position = 0;
    while (position < width) {
        const int runLength = std::min(RunEnd(pixels, position, width) - position, kLongestRun);
        if (runLength >= 2) {
            writer.Run(position, runLength);
            position += runLength;
            continue;
        }
        const int stretchEnd = LiteralEnd(pixels, position, width);
        while (position < stretchEnd) {
            const int count = std::min(stretchEnd - position, kLongestLiteral);
            writer.Literal(position, count);
            position += count;
        }
    }
    return 1;
}

} // namespace

int EncodeRgbRow(PicByteSink& sink, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                 int width)
{
    const RgbPixels pixels{red, green, blue};
    ClaimWriter<RgbPixels, PicByteSink> writer{sink, pixels};
    return EncodeRow(pixels, writer, width);
}

int EncodeChannelRow(PicByteSink& sink, const uint8_t* values, int width)
{
    const ChannelPixels pixels{values};
    ClaimWriter<ChannelPixels, PicByteSink> writer{sink, pixels};
    return EncodeRow(pixels, writer, width);
}

ptrdiff_t EncodeRgbRow(uint8_t* out, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                       int width)
{
    const RgbPixels pixels{red, green, blue};
    BufferTarget target{out};
    ClaimWriter<RgbPixels, BufferTarget> writer{target, pixels};
    return EncodeRow(pixels, writer, width) == 1 ? target.cursor - out : -1;
}

ptrdiff_t EncodeChannelRow(uint8_t* out, const uint8_t* values, int width)
{
    const ChannelPixels pixels{values};
    BufferTarget target{out};
    ClaimWriter<ChannelPixels, BufferTarget> writer{target, pixels};
    return EncodeRow(pixels, writer, width) == 1 ? target.cursor - out : -1;
}

int EncodeRgbRow(FILE* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                 int width)
{
    const RgbPixels pixels{red, green, blue};
    FileWriter<RgbPixels> writer{file, pixels};
    return EncodeRow(pixels, writer, width);
}

int EncodeChannelRow(FILE* file, const uint8_t* values, int width)
{
    const ChannelPixels pixels{values};
    FileWriter<ChannelPixels> writer{file, pixels};
    return EncodeRow(pixels, writer, width);
}

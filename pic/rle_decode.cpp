#include <cstring>

#include "pic/rle_codec.h"

// Both decoders run one algorithm over two kinds of reader (a C stream read
// byte by byte, our buffered source) and two kinds of row (one channel, the
// colour group). Packet bounds, in stream bytes:
//   literal   1 + (c + 1) * bytesPerPixel      at most 1 + 128 * bytesPerPixel
//   long run  1 + 2 + bytesPerPixel
//   short run 1 + bytesPerPixel

namespace {

constexpr int kLongRunCount = 128;

// Fills and copies of exactly `count` bytes. Runs and literals are mostly
// short, where a library call costs more than the bytes: up to 16 bytes go
// as two (possibly overlapping) stores that stay inside [out, out + count),
// since bytes of the row beyond the packet must keep their contents.
inline void FillBytes(uint8_t* out, uint8_t value, size_t count)
{
    if (count > 16) {
        std::memset(out, value, count);
    } else if (count >= 8) {
        const uint64_t word = value * 0x0101010101010101ull;
        std::memcpy(out, &word, 8);
        std::memcpy(out + count - 8, &word, 8);
    } else if (count >= 4) {
        const uint32_t word = value * 0x01010101u;
        std::memcpy(out, &word, 4);
        std::memcpy(out + count - 4, &word, 4);
    } else if (count != 0) {
        out[0] = value;
        out[count / 2] = value;
        out[count - 1] = value;
    }
}

inline void CopyBytes(uint8_t* out, const uint8_t* in, size_t count)
{
    if (count > 16) {
        std::memcpy(out, in, count);
    } else if (count >= 8) {
        uint64_t head, tail;
        std::memcpy(&head, in, 8);
        std::memcpy(&tail, in + count - 8, 8);
        std::memcpy(out, &head, 8);
        std::memcpy(out + count - 8, &tail, 8);
    } else if (count >= 4) {
        uint32_t head, tail;
        std::memcpy(&head, in, 4);
        std::memcpy(&tail, in + count - 4, 4);
        std::memcpy(out, &head, 4);
        std::memcpy(out + count - 4, &tail, 4);
    } else if (count != 0) {
        out[0] = in[0];
        out[count / 2] = in[count / 2];
        out[count - 1] = in[count - 1];
    }
}

struct ChannelRow {
    static constexpr int kBytesPerPixel = 1;
    uint8_t* values;

    void Fill(int position, int pixels, const uint8_t* pixel) const
    {
        FillBytes(values + position, pixel[0], size_t(pixels));
    }
    void Copy(int position, int pixels, const uint8_t* bytes) const
    {
        CopyBytes(values + position, bytes, size_t(pixels));
    }
};

struct RgbRow {
    static constexpr int kBytesPerPixel = 3;
    uint8_t* red;
    uint8_t* green;
    uint8_t* blue;

    void Fill(int position, int pixels, const uint8_t* pixel) const
    {
        FillBytes(red + position, pixel[0], size_t(pixels));
        FillBytes(green + position, pixel[1], size_t(pixels));
        FillBytes(blue + position, pixel[2], size_t(pixels));
    }
    // Splits `pixels` interleaved red-green-blue triples into the three rows.
    void Copy(int position, int pixels, const uint8_t* bytes) const
    {
        uint8_t* const redOut = this->red + position;
        uint8_t* const greenOut = this->green + position;
        uint8_t* const blueOut = this->blue + position;
        for (int index = 0; index < pixels; ++index) {
            redOut[index] = bytes[0];
            greenOut[index] = bytes[1];
            blueOut[index] = bytes[2];
            bytes += 3;
        }
    }
};

// A C stream read with no read-ahead beyond the bytes asked for.
struct FileReader {
    FILE* file;

    int Next() { return std::getc(file); }
    void ReadFilled(uint8_t* out, size_t count)
    {
        const size_t got = std::fread(out, 1, count, file);
        std::memset(out + got, 255, count - got);
    }
};

// Decodes the packet whose count byte is next, checking every read. Returns
// the position after it, or -1 when the row fails; nothing of a failing
// packet is stored. 0 <= position here.
template <class Reader, class Row>
int DecodePacket(Reader& reader, const Row& row, int position, int width)
{
    const int count = reader.Next();
    if (count < 0)
        return -1;
    int pixels;
    if (count == kLongRunCount) {
        const int high = reader.Next();
        const int low = reader.Next();
        if (high < 0 || low < 0) // the 16-bit count itself is cut short
            return -1;
        pixels = high * 256 + low;
    } else {
        pixels = count < kLongRunCount ? count + 1 : count - 127;
    }
    if (pixels > width - position)
        return -1;
    uint8_t bytes[128 * Row::kBytesPerPixel];
    if (count < kLongRunCount) {
        reader.ReadFilled(bytes, size_t(pixels) * Row::kBytesPerPixel);
        row.Copy(position, pixels, bytes);
    } else {
        reader.ReadFilled(bytes, Row::kBytesPerPixel);
        row.Fill(position, pixels, bytes);
    }
    return position + pixels;
}

template <class Reader, class Row> int DecodeRowChecked(Reader& reader, const Row& row, int width)
{
    // At least one packet, even for a width of 0 (only a long run of 0 fits).
    int position = 0;
    do {
        position = DecodePacket(reader, row, position, width);
        if (position < 0)
            return 0;
    } while (position < width);
    return 1;
}

// Decodes the packets that lie whole in [in, end) while the row lasts.
// Returns the new position, or -1 when the row fails; `in` is left after the
// last byte used (after the failing packet's count when the row fails).
template <class Row>
int DecodeBufferedPackets(const uint8_t*& in, const uint8_t* end, const Row& row, int position,
                          int width)
{
    constexpr int kPixel = Row::kBytesPerPixel;
    const uint8_t* cursor = in;
    // Room for the count byte, a long run's count and one pixel; a literal
    // is measured once its count is known.
    while (position < width && end - cursor >= 3 + kPixel) {
        const int count = cursor[0];
        int pixels;
        if (count < kLongRunCount) {
            pixels = count + 1;
            if (end - cursor < 1 + pixels * kPixel)
                break;
            ++cursor;
            if (pixels > width - position) {
                in = cursor;
                return -1;
            }
            row.Copy(position, pixels, cursor);
            cursor += pixels * kPixel;
        } else {
            if (count == kLongRunCount) {
                pixels = cursor[1] * 256 + cursor[2];
                cursor += 3;
            } else {
                pixels = count - 127;
                ++cursor;
            }
            if (pixels > width - position) {
                in = cursor;
                return -1;
            }
            row.Fill(position, pixels, cursor);
            cursor += kPixel;
        }
        position += pixels;
    }
    in = cursor;
    return position;
}

template <class Row> int DecodeRowBuffered(PicByteSource& source, const Row& row, int width)
{
    if (width <= 0)
        return DecodePacket(source, row, 0, width) >= 0 ? 1 : 0;
    constexpr size_t kLongestPacket = 1 + 128 * Row::kBytesPerPixel;
    int position = 0;
    while (position < width) {
        // Fewer than kLongestPacket bytes stay buffered only near the end of
        // the file; a packet the buffer does not hold whole is then read
        // through the checked path.
        source.Fill(kLongestPacket);
        const uint8_t* const start = source.Data();
        const uint8_t* in = start;
        const int reached =
            DecodeBufferedPackets(in, start + source.Buffered(), row, position, width);
        source.Skip(size_t(in - start));
        if (reached < 0)
            return 0;
        if (in == start) {
            position = DecodePacket(source, row, position, width);
            if (position < 0)
                return 0;
        } else {
            position = reached;
        }
    }
    return 1;
}

} // namespace

int DecodeRgbRow(PicByteSource& source, uint8_t* red, uint8_t* green, uint8_t* blue, int width)
{
    return DecodeRowBuffered(source, RgbRow{red, green, blue}, width);
}

int DecodeChannelRow(PicByteSource& source, uint8_t* values, int width)
{
    return DecodeRowBuffered(source, ChannelRow{values}, width);
}

int DecodeRgbRow(FILE* file, uint8_t* red, uint8_t* green, uint8_t* blue, int width)
{
    FileReader reader{file};
    return DecodeRowChecked(reader, RgbRow{red, green, blue}, width);
}

int DecodeChannelRow(FILE* file, uint8_t* values, int width)
{
    FileReader reader{file};
    return DecodeRowChecked(reader, ChannelRow{values}, width);
}

#include <cstring>
#include <utility>

#include "pic/rle_codec.h"

// One algorithm per encoding, over our byte source (a file or memory) and
// rows of pixels of 1 to 8 bytes (1 to 4 channels, of one or two bytes). Mixed run-length packet
// bounds, in stream bytes:
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

// A row of `kPixel` channels, each in its own array. Pixels in the stream
// carry the channels interleaved, in array order.
template <int kPixel> struct PlanarRow {
    static constexpr int kBytesPerPixel = kPixel;
    uint8_t* planes[size_t(kPixel)];

    static PlanarRow Of(uint8_t* const* arrays)
    {
        PlanarRow row;
        for (size_t index = 0; index < size_t(kPixel); ++index)
            row.planes[index] = arrays[index];
        return row;
    }

    void Fill(int position, int pixels, const uint8_t* pixel) const
    {
        FillEach(position, size_t(pixels), pixel, std::make_index_sequence<size_t(kPixel)>());
    }
    // One FillBytes per array, written out rather than looped: a loop here
    // costs a fifth of the time of a row of runs.
    template <size_t... channel>
    void FillEach(int position, size_t count, const uint8_t* pixel,
                  std::index_sequence<channel...>) const
    {
        (FillBytes(planes[channel] + position, pixel[channel], count), ...);
    }
    // Splits `pixels` interleaved pixels into the arrays.
    void Copy(int position, int pixels, const uint8_t* bytes) const
    {
        if constexpr (kPixel == 1) {
            CopyBytes(planes[0] + position, bytes, size_t(pixels));
        } else if constexpr (kPixel == 3) {
            uint8_t* const red = planes[0] + position;
            uint8_t* const green = planes[1] + position;
            uint8_t* const blue = planes[2] + position;
            for (int index = 0; index < pixels; ++index) {
                red[index] = bytes[0];
                green[index] = bytes[1];
                blue[index] = bytes[2];
                bytes += 3;
            }
        } else {
            for (int index = 0; index < pixels; ++index) {
                for (size_t channel = 0; channel < size_t(kPixel); ++channel)
                    planes[channel][index + position] = bytes[channel];
                bytes += kPixel;
            }
        }
    }
};

// Negative mixed run-length packet results: why the row failed.
constexpr int kCutShort = -1;
constexpr int kRunPastEnd = -2;

PicRowStatus StatusOf(int failure)
{
    return failure == kCutShort ? PicRowStatus::CutShort : PicRowStatus::RunPastEnd;
}

// Decodes the packet whose count byte is next, checking every read. Returns
// the position after it, or a negative failure when the row fails; nothing
// of a failing packet is stored. 0 <= position here.
template <class Row> int DecodePacket(PicByteSource& reader, const Row row, int position, int width)
{
    const int count = reader.Next();
    if (count < 0)
        return kCutShort;
    int pixels;
    if (count == kLongRunCount) {
        const int high = reader.Next();
        const int low = reader.Next();
        if (high < 0 || low < 0) // the 16-bit count itself is cut short
            return kCutShort;
        pixels = high * 256 + low;
    } else {
        pixels = count < kLongRunCount ? count + 1 : count - 127;
    }
    if (pixels > width - position)
        return kRunPastEnd;
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

// Decodes the packets that lie whole in [in, end) while the row lasts.
// Returns the new position, or kRunPastEnd when the row fails; `in` is left after the
// last byte used (after the failing packet's count when the row fails).
template <class Row>
int DecodeBufferedPackets(const uint8_t*& in, const uint8_t* end, const Row arrays, int position,
                          int width)
{
    constexpr int kPixel = Row::kBytesPerPixel;
    // The arrays copied to a local, which stays in registers; measured a few
    // per cent faster on rows of runs than reading the parameter.
    const Row row = arrays;
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
                return kRunPastEnd;
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
                return kRunPastEnd;
            }
            row.Fill(position, pixels, cursor);
            cursor += kPixel;
        }
        position += pixels;
    }
    in = cursor;
    return position;
}

template <class Row> PicRowStatus DecodeRowBuffered(PicByteSource& source, const Row row, int width)
{
    if (width <= 0) {
        const int reached = DecodePacket(source, row, 0, width);
        return reached >= 0 ? PicRowStatus::Whole : StatusOf(reached);
    }
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
            return StatusOf(reached);
        if (in == start) {
            position = DecodePacket(source, row, position, width);
            if (position < 0)
                return StatusOf(position);
        } else {
            position = reached;
        }
    }
    return PicRowStatus::Whole;
}

// Pure run-length: pairs of a count (1..255) and one pixel, covering the row
// exactly; a width of 0 holds no pair. Files of this kind come from other
// writers only, so one checked path serves.
template <class Row> PicRowStatus DecodePureRowOf(PicByteSource& source, const Row row, int width)
{
    int position = 0;
    while (position < width) {
        const int count = source.Next();
        if (count < 0)
            return PicRowStatus::CutShort;
        if (count == 0)
            return PicRowStatus::ZeroCount;
        if (count > width - position)
            return PicRowStatus::RunPastEnd;
        uint8_t pixel[Row::kBytesPerPixel];
        source.ReadFilled(pixel, Row::kBytesPerPixel);
        row.Fill(position, count, pixel);
        position += count;
    }
    return PicRowStatus::Whole;
}

} // namespace

// Each decoder instantiation has this one caller, so that it is inlined here
// and keeps its arrays in registers.
PicRowStatus DecodeMixedRow(PicByteSource& source, uint8_t* const* planes, int pixelBytes,
                            int width)
{
    switch (pixelBytes) {
    case 1:
        return DecodeRowBuffered(source, PlanarRow<1>{{planes[0]}}, width);
    case 2:
        return DecodeRowBuffered(source, PlanarRow<2>{{planes[0], planes[1]}}, width);
    case 3:
        return DecodeRowBuffered(source, PlanarRow<3>{{planes[0], planes[1], planes[2]}}, width);
    case 4:
        return DecodeRowBuffered(source, PlanarRow<4>{{planes[0], planes[1], planes[2], planes[3]}},
                                 width);
    case 6:
        return DecodeRowBuffered(source, PlanarRow<6>::Of(planes), width);
    default:
        return DecodeRowBuffered(source, PlanarRow<8>::Of(planes), width);
    }
}

PicRowStatus DecodePureRow(PicByteSource& source, uint8_t* const* planes, int pixelBytes, int width)
{
    switch (pixelBytes) {
    case 1:
        return DecodePureRowOf(source, PlanarRow<1>{{planes[0]}}, width);
    case 2:
        return DecodePureRowOf(source, PlanarRow<2>{{planes[0], planes[1]}}, width);
    case 3:
        return DecodePureRowOf(source, PlanarRow<3>{{planes[0], planes[1], planes[2]}}, width);
    case 4:
        return DecodePureRowOf(source, PlanarRow<4>{{planes[0], planes[1], planes[2], planes[3]}},
                               width);
    case 6:
        return DecodePureRowOf(source, PlanarRow<6>::Of(planes), width);
    default:
        return DecodePureRowOf(source, PlanarRow<8>::Of(planes), width);
    }
}

int DecodeRgbRow(PicByteSource& source, uint8_t* red, uint8_t* green, uint8_t* blue, int width)
{
    uint8_t* const planes[3] = {red, green, blue};
    return DecodeMixedRow(source, planes, 3, width) == PicRowStatus::Whole ? 1 : 0;
}

int DecodeChannelRow(PicByteSource& source, uint8_t* values, int width)
{
    return DecodeMixedRow(source, &values, 1, width) == PicRowStatus::Whole ? 1 : 0;
}

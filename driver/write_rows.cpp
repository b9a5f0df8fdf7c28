#include "driver/write_rows.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "driver/pixel_rows.h"
#include "pic/rle_codec.h"

namespace {

// One row of file bytes is made from the host pixels by `encode`, in a
// buffer of `rowBytes` bytes, where the bytes to write start at `encodedAt`;
// it answers their number, or -1 where the encoder refused the row.
// `literal` carries from row to row whether the last row was mostly literal
// stretches.
struct RowLayout {
    size_t rowBytes;
    size_t encodedAt;
    ptrdiff_t (*encode)(const BMM_Color_64* pixels, int width, bool withAlpha, uint8_t* row,
                        bool& literal);
};

// Raw: interleaved red, green, blue (3 * width bytes), then `width` alpha bytes.
ptrdiff_t EncodeRaw(const BMM_Color_64* pixels, int width, bool withAlpha, uint8_t* row, bool&)
{
    NarrowToInterleaved(pixels, width, row);
    if (withAlpha)
        NarrowAlpha(pixels, width, row + 3 * size_t(width));
    return ptrdiff_t(withAlpha ? 4 : 3) * width;
}

// Compressed: the channels are narrowed to the red, green, blue and alpha
// arrays of `width` bytes each at the start of the buffer, for the encoder's
// comparisons, and, where the last row was mostly literal stretches (more
// than two bytes a pixel), to interleaved red, green, blue after them, from
// which it copies literals whole: a pass that only such rows repay; the encoded row, at most
// MaxCompressedRow(width) bytes, goes last, at kEncodedAt * width.
constexpr size_t kEncodedAt = 7;

size_t MaxCompressedRow(int width)
{
    return MaxEncodedRgbRow(width) + MaxEncodedChannelRow(width);
}

ptrdiff_t EncodeCompressed(const BMM_Color_64* pixels, int width, bool withAlpha, uint8_t* row,
                           bool& literal)
{
    uint8_t* red = row;
    uint8_t* green = red + width;
    uint8_t* blue = green + width;
    uint8_t* alpha = withAlpha ? blue + width : nullptr;
    uint8_t* rgb = literal ? row + 4 * size_t(width) : nullptr;
    NarrowToPlanar(pixels, width, red, green, blue, alpha);
    if (rgb != nullptr)
        NarrowToInterleaved(pixels, width, rgb);
    uint8_t* out = row + kEncodedAt * size_t(width);
    const ptrdiff_t size = EncodeRgbRow(out, red, green, blue, rgb, width);
    literal = size > 2 * ptrdiff_t(width);
    if (size < 0 || !withAlpha)
        return size;
    const ptrdiff_t alphaSize = EncodeChannelRow(out + size, alpha, width);
    return alphaSize >= 0 ? size + alphaSize : alphaSize;
}

RowWriteResult FailedAt(RowWriteResult result, int y, int* failedRow)
{
    if (failedRow != nullptr)
        *failedRow = y;
    return result;
}

// Every row in turn: fetch it from the host's storage, turn it into file
// bytes and hand them to the sink.
RowWriteResult WriteRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                         int withAlpha, const RowLayout& layout, int* failedRow)
{
    if (height <= 0)
        return sink.Ok() ? RowWriteResult::Written : RowWriteResult::WriteFailed;
    // One row of host pixels for the fetches, zeroed as a storage that
    // fetches nothing into it still leaves defined bytes.
    std::unique_ptr<BMM_Color_64[]> pixels(new (std::nothrow) BMM_Color_64[size_t(width)]());
    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[layout.rowBytes]);
    if (pixels == nullptr || row == nullptr)
        return RowWriteResult::NoMemory;
    const bool alpha = withAlpha == 1;
    bool literal = true;
    for (int y = 0; y < height; ++y) {
        if (storage->FetchRow(0, y, width, pixels.get()) != 1)
            return FailedAt(RowWriteResult::FetchFailed, y, failedRow);
        const ptrdiff_t size = layout.encode(pixels.get(), width, alpha, row.get(), literal);
        if (size < 0)
            return FailedAt(RowWriteResult::EncoderFailed, y, failedRow);
        sink.Write(row.get() + layout.encodedAt, size_t(size));
        if (!sink.Ok())
            return FailedAt(RowWriteResult::WriteFailed, y, failedRow);
    }
    return RowWriteResult::Written;
}

} // namespace

RowWriteResult WriteRawRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                            int withAlpha, int* failedRow)
{
    const RowLayout layout{4 * size_t(width), 0, EncodeRaw};
    return WriteRows(sink, storage, width, height, withAlpha, layout, failedRow);
}

RowWriteResult WriteCompressedRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                                   int withAlpha, int* failedRow)
{
    const RowLayout layout{kEncodedAt * size_t(width) + MaxCompressedRow(width),
                           kEncodedAt * size_t(width), EncodeCompressed};
    return WriteRows(sink, storage, width, height, withAlpha, layout, failedRow);
}

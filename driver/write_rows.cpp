#include "driver/write_rows.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "driver/pixel_rows.h"
#include "pic/rle_codec.h"

namespace {

// One row of host pixels (zeroed) and `byteCount` bytes of file data, or
// nulls when either cannot be allocated.
struct RowBuffers {
    std::unique_ptr<BMM_Color_64[]> pixels;
    std::unique_ptr<uint8_t[]> bytes;

    RowBuffers(int width, size_t byteCount)
        : pixels(new (std::nothrow) BMM_Color_64[size_t(width)]()),
          bytes(new (std::nothrow) uint8_t[byteCount])
    {
    }
    bool Allocated() const { return pixels != nullptr && bytes != nullptr; }
};

RowWriteResult FailedAt(RowWriteResult result, int y, int* failedRow)
{
    if (failedRow != nullptr)
        *failedRow = y;
    return result;
}

} // namespace

RowWriteResult WriteRawRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                            int withAlpha, int* failedRow)
{
    if (height <= 0)
        return sink.Ok() ? RowWriteResult::Written : RowWriteResult::WriteFailed;
    // One buffer of 3 * width bytes serves the colour bytes and then the alpha bytes.
    RowBuffers buffers(width, 3 * size_t(width));
    if (!buffers.Allocated())
        return RowWriteResult::NoMemory;
    BMM_Color_64* pixels = buffers.pixels.get();
    uint8_t* bytes = buffers.bytes.get();
    for (int y = 0; y < height; ++y) {
        if (storage->FetchRow(0, y, width, pixels) != 1)
            return FailedAt(RowWriteResult::FetchFailed, y, failedRow);
        NarrowToInterleaved(pixels, width, bytes);
        sink.Write(bytes, 3 * size_t(width));
        if (withAlpha == 1) {
            NarrowAlpha(pixels, width, bytes);
            sink.Write(bytes, size_t(width));
        }
        if (!sink.Ok())
            return FailedAt(RowWriteResult::WriteFailed, y, failedRow);
    }
    return RowWriteResult::Written;
}

RowWriteResult WriteCompressedRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                                   int withAlpha, int* failedRow)
{
    if (height <= 0)
        return sink.Ok() ? RowWriteResult::Written : RowWriteResult::WriteFailed;
    // Red, green, blue and alpha arrays of `width` bytes each, one after another.
    RowBuffers buffers(width, 4 * size_t(width));
    if (!buffers.Allocated())
        return RowWriteResult::NoMemory;
    BMM_Color_64* pixels = buffers.pixels.get();
    uint8_t* red = buffers.bytes.get();
    uint8_t* green = red + width;
    uint8_t* blue = green + width;
    uint8_t* alpha = blue + width;
    for (int y = 0; y < height; ++y) {
        if (storage->FetchRow(0, y, width, pixels) != 1)
            return FailedAt(RowWriteResult::FetchFailed, y, failedRow);
        NarrowToPlanar(pixels, width, red, green, blue, withAlpha == 1 ? alpha : nullptr);
        if (EncodeRgbRow(sink, red, green, blue, width) != 1 ||
            (withAlpha == 1 && EncodeChannelRow(sink, alpha, width) != 1))
            return FailedAt(RowWriteResult::EncoderFailed, y, failedRow);
        if (!sink.Ok())
            return FailedAt(RowWriteResult::WriteFailed, y, failedRow);
    }
    return RowWriteResult::Written;
}

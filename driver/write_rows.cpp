#include "driver/write_rows.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "driver/pixel_rows.h"
#include "driver/row_pipeline.h"
#include "pic/rle_codec.h"

namespace {

// How one row's file bytes are laid out in a pipeline slot: made from the
// host pixels by Narrow, on the calling thread, turned into the bytes the
// file holds by Encode (where there is more to do than narrowing), and
// handed to the sink by Put; Put answers Written, EncoderFailed or
// WriteFailed. Encode and Put run on the worker, or on the calling thread
// when the worker is behind (see RowPipeline::Run).
struct RowLayout {
    size_t slotBytes;
    void (*narrow)(const BMM_Color_64* pixels, int width, bool withAlpha, uint8_t* slot);
    void (*encode)(uint8_t* slot, int width, bool withAlpha);
    RowWriteResult (*put)(PicByteSink& sink, const uint8_t* slot, int width, bool withAlpha);
};

// Raw: interleaved red, green, blue (3 * width bytes), then `width` alpha bytes.
void NarrowRaw(const BMM_Color_64* pixels, int width, bool withAlpha, uint8_t* slot)
{
    NarrowToInterleaved(pixels, width, slot);
    if (withAlpha)
        NarrowAlpha(pixels, width, slot + 3 * size_t(width));
}

RowWriteResult PutRaw(PicByteSink& sink, const uint8_t* slot, int width, bool withAlpha)
{
    sink.Write(slot, (withAlpha ? 4 : 3) * size_t(width));
    return sink.Ok() ? RowWriteResult::Written : RowWriteResult::WriteFailed;
}

// Compressed: the size of the encoded row (or -1 where the encoder refused
// it), red, green, blue and alpha arrays of `width` bytes each, then the
// encoded row, at most MaxCompressedRow(width) bytes.
constexpr size_t kSizeBytes = 16; // keeps the red array 16-byte aligned

size_t MaxCompressedRow(int width)
{
    return MaxEncodedRgbRow(width) + MaxEncodedChannelRow(width);
}

size_t EncodedRowOffset(int width)
{
    return kSizeBytes + 4 * size_t(width);
}

void NarrowCompressed(const BMM_Color_64* pixels, int width, bool withAlpha, uint8_t* slot)
{
    uint8_t* red = slot + kSizeBytes;
    NarrowToPlanar(pixels, width, red, red + width, red + 2 * size_t(width),
                   withAlpha ? red + 3 * size_t(width) : nullptr);
}

void EncodeCompressed(uint8_t* slot, int width, bool withAlpha)
{
    const uint8_t* red = slot + kSizeBytes;
    uint8_t* out = slot + EncodedRowOffset(width);
    ptrdiff_t size = EncodeRgbRow(out, red, red + width, red + 2 * size_t(width), width);
    if (size >= 0 && withAlpha) {
        const ptrdiff_t alpha = EncodeChannelRow(out + size, red + 3 * size_t(width), width);
        size = alpha >= 0 ? size + alpha : alpha;
    }
    std::memcpy(slot, &size, sizeof size);
}

RowWriteResult PutCompressed(PicByteSink& sink, const uint8_t* slot, int width, bool)
{
    ptrdiff_t size;
    std::memcpy(&size, slot, sizeof size);
    if (size < 0)
        return RowWriteResult::EncoderFailed;
    sink.Write(slot + EncodedRowOffset(width), size_t(size));
    return sink.Ok() ? RowWriteResult::Written : RowWriteResult::WriteFailed;
}

RowWriteResult FailedAt(RowWriteResult result, int y, int* failedRow)
{
    if (failedRow != nullptr)
        *failedRow = y;
    return result;
}

// Every row through a RowPipeline: the calling thread fetches each row from
// the host's storage and narrows it, so that the storage is touched only by
// the thread the host called; the worker encodes and writes it (the calling
// thread encodes rows ahead when the worker falls behind).
RowWriteResult WriteRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                         int withAlpha, const RowLayout& layout, int* failedRow)
{
    if (height <= 0)
        return sink.Ok() ? RowWriteResult::Written : RowWriteResult::WriteFailed;
    // One row of host pixels for the fetches, zeroed as a storage that
    // fetches nothing into it still leaves defined bytes.
    std::unique_ptr<BMM_Color_64[]> pixels(new (std::nothrow) BMM_Color_64[size_t(width)]());
    RowPipeline pipeline(layout.slotBytes);
    if (pixels == nullptr || !pipeline.Allocated())
        return RowWriteResult::NoMemory;
    const bool alpha = withAlpha == 1;
    int fetchFailedAt = -1;
    int putFailedAt = -1;
    RowWriteResult putResult = RowWriteResult::Written;
    int putErrno = 0;
    const auto fetch = [&](int y, uint8_t* slot) {
        if (storage->FetchRow(0, y, width, pixels.get()) != 1) {
            fetchFailedAt = y;
            return false;
        }
        layout.narrow(pixels.get(), width, alpha, slot);
        return true;
    };
    const auto put = [&](int y, uint8_t* slot) {
        putResult = layout.put(sink, slot, width, alpha);
        if (putResult == RowWriteResult::Written)
            return true;
        putFailedAt = y;
        putErrno = errno;
        return false;
    };
    const auto encode = [&](int, uint8_t* slot) { layout.encode(slot, width, alpha); };
    pipeline.Run(height, RowPipeline::Worker::Consumes, fetch, put,
                 layout.encode != nullptr ? RowPipeline::Preparation(encode) : nullptr);
    // Read once the worker has ended. A row that failed to go out lies
    // before any row that failed to be fetched (rows go out only once
    // fetched); its cause goes to the thread that reports it.
    if (putFailedAt >= 0) {
        errno = putErrno;
        return FailedAt(putResult, putFailedAt, failedRow);
    }
    if (fetchFailedAt >= 0)
        return FailedAt(RowWriteResult::FetchFailed, fetchFailedAt, failedRow);
    return RowWriteResult::Written;
}

} // namespace

RowWriteResult WriteRawRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                            int withAlpha, int* failedRow)
{
    const RowLayout layout{4 * size_t(width), NarrowRaw, nullptr, PutRaw};
    return WriteRows(sink, storage, width, height, withAlpha, layout, failedRow);
}

RowWriteResult WriteCompressedRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                                   int withAlpha, int* failedRow)
{
    const RowLayout layout{EncodedRowOffset(width) + MaxCompressedRow(width), NarrowCompressed,
                           EncodeCompressed, PutCompressed};
    return WriteRows(sink, storage, width, height, withAlpha, layout, failedRow);
}

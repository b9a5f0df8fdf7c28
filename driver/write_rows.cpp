#include "driver/write_rows.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "driver/pixel_rows.h"
#include "driver/row_pipeline.h"
#include "pic/rle_codec.h"

namespace {

// How one row's file bytes are laid out in a pipeline slot: made from the
// host pixels by Narrow, on the calling thread, and handed to the sink by
// Put, on the worker. Put answers false when the row cannot be written.
struct RowLayout {
    size_t slotBytes;
    void (*narrow)(const BMM_Color_64* pixels, int width, bool withAlpha, uint8_t* slot);
    bool (*put)(PicByteSink& sink, const uint8_t* slot, int width, bool withAlpha);
};

// Raw: interleaved red, green, blue (3 * width bytes), then `width` alpha bytes.
void NarrowRaw(const BMM_Color_64* pixels, int width, bool withAlpha, uint8_t* slot)
{
    NarrowToInterleaved(pixels, width, slot);
    if (withAlpha)
        NarrowAlpha(pixels, width, slot + 3 * size_t(width));
}

bool PutRaw(PicByteSink& sink, const uint8_t* slot, int width, bool withAlpha)
{
    sink.Write(slot, (withAlpha ? 4 : 3) * size_t(width));
    return sink.Ok() == 1;
}

// Compressed: red, green, blue and alpha arrays of `width` bytes each.
void NarrowCompressed(const BMM_Color_64* pixels, int width, bool withAlpha, uint8_t* slot)
{
    NarrowToPlanar(pixels, width, slot, slot + width, slot + 2 * size_t(width),
                   withAlpha ? slot + 3 * size_t(width) : nullptr);
}

bool PutCompressed(PicByteSink& sink, const uint8_t* slot, int width, bool withAlpha)
{
    if (EncodeRgbRow(sink, slot, slot + width, slot + 2 * size_t(width), width) != 1)
        return false;
    if (withAlpha && EncodeChannelRow(sink, slot + 3 * size_t(width), width) != 1)
        return false;
    return sink.Ok() == 1;
}

// Every row through a RowPipeline: the calling thread fetches each row from
// the host's storage and narrows it, the worker encodes and writes it, so
// the storage is touched only by the thread the host called.
RowWriteResult WriteRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                         int withAlpha, const RowLayout& layout)
{
    if (height <= 0)
        return sink.Ok() ? RowWriteResult::Written : RowWriteResult::Failed;
    // One row of host pixels for the fetches, zeroed as a storage that
    // fetches nothing into it still leaves defined bytes.
    std::unique_ptr<BMM_Color_64[]> pixels(new (std::nothrow) BMM_Color_64[size_t(width)]());
    RowPipeline pipeline(layout.slotBytes);
    if (pixels == nullptr || !pipeline.Allocated())
        return RowWriteResult::NoMemory;
    const bool alpha = withAlpha == 1;
    bool fetchFailed = false;
    bool putFailed = false;
    int putErrno = 0;
    const auto fetch = [&](int y, uint8_t* slot) {
        if (storage->FetchRow(0, y, width, pixels.get()) != 1) {
            fetchFailed = true;
            return false;
        }
        layout.narrow(pixels.get(), width, alpha, slot);
        return true;
    };
    const auto put = [&](int, uint8_t* slot) {
        putFailed = !layout.put(sink, slot, width, alpha);
        if (putFailed)
            putErrno = errno;
        return !putFailed;
    };
    pipeline.Run(height, RowPipeline::Worker::Consumes, fetch, put);
    // Each flag is written by one thread and read here, after the worker has
    // ended. A failed write's cause goes to the thread that reports it.
    if (putFailed)
        errno = putErrno;
    if (fetchFailed || putFailed)
        return RowWriteResult::Failed;
    return RowWriteResult::Written;
}

} // namespace

RowWriteResult WriteRawRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                            int withAlpha)
{
    const RowLayout layout{4 * size_t(width), NarrowRaw, PutRaw};
    return WriteRows(sink, storage, width, height, withAlpha, layout);
}

RowWriteResult WriteCompressedRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                                   int withAlpha)
{
    const RowLayout layout{4 * size_t(width), NarrowCompressed, PutCompressed};
    return WriteRows(sink, storage, width, height, withAlpha, layout);
}

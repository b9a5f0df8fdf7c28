#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>

#include "driver/file_closer.h"
#include "driver/pic_bitmap_io.h"
#include "driver/pixel_rows.h"
#include "driver/row_pipeline.h"
#include "host/bmm_functions.h"
#include "host/window_message.h"
#include "pic/byte_source.h"
#include "pic/rle_codec.h"

namespace {

// Releases the storage a load created, unless the load hands it to the host.
class StorageReleaser {
public:
    explicit StorageReleaser(BitmapStorage* created) : storage(created) {}
    ~StorageReleaser()
    {
        if (storage != nullptr)
            storage->Release(1);
    }
    StorageReleaser(const StorageReleaser&) = delete;
    StorageReleaser& operator=(const StorageReleaser&) = delete;

    BitmapStorage* HandOver()
    {
        BitmapStorage* kept = storage;
        storage = nullptr;
        return kept;
    }

private:
    BitmapStorage* storage;
};

// The working rows of a load: one row of `width` host pixels for the
// calling thread, and a pipeline whose slots each hold one row's 4 * width
// file bytes: the colour data (interleaved red, green, blue when raw; red,
// green and blue arrays one after another when compressed), then the alpha
// array. About 40 bytes per pixel of one row in all.
struct LoadBuffers {
    std::unique_ptr<BMM_Color_64[]> pixels;
    RowPipeline pipeline;

    explicit LoadBuffers(int width)
        : pixels(new (std::nothrow) BMM_Color_64[size_t(width)]), pipeline(4 * size_t(width))
    {
    }
    bool Allocated() const { return pixels != nullptr && pipeline.Allocated(); }
};

enum class RowsResult { Loaded, StoreRefused };

// Reads one file row into `bytes` (laid out as in LoadBuffers); false when a
// compressed row fails to decode.
bool ReadRow(PicByteSource& source, const PicOptions& options, int width, uint8_t* bytes)
{
    uint8_t* alpha = bytes + 3 * size_t(width);
    if (options.rgbCompressed == 1) {
        if (DecodeRgbRow(source, bytes, bytes + width, bytes + 2 * size_t(width), width) != 1)
            return false;
    } else {
        source.ReadFilled(bytes, 3 * size_t(width));
    }
    if (options.withAlpha == 1) {
        if (options.alphaCompressed != 1)
            source.ReadFilled(alpha, size_t(width));
        else if (DecodeChannelRow(source, alpha, width) != 1)
            return false;
    }
    return true;
}

// Reads rows 0 to height - 1 into the storage. A compressed row that fails
// to decode ends the load early, keeping the rows before it: PIC files cut
// short still show what they hold.
//
// The file is read and decoded on a worker thread, a few rows ahead; this
// thread widens and stores each row and reports progress, so that the host
// is only ever called from the thread that called the driver.
RowsResult LoadRows(PicByteSource& source, const PicOptions& options, int width, int height,
                    BitmapInfo* info, BitmapStorage* storage, LoadBuffers& buffers)
{
    const bool withAlpha = options.withAlpha == 1;
    BMM_Color_64* pixels = buffers.pixels.get();
    bool refused = false;
    const auto read = [&](int, uint8_t* bytes) { return ReadRow(source, options, width, bytes); };
    const auto store = [&](int y, uint8_t* bytes) {
        const uint8_t* alpha = withAlpha ? bytes + 3 * size_t(width) : nullptr;
        if (options.rgbCompressed == 1)
            WidenPlanarRow(bytes, bytes + width, bytes + 2 * size_t(width), alpha, width, pixels);
        else
            WidenInterleavedRow(bytes, alpha, width, pixels);
        // The row buffer holds `width` pixels: a host that changed its info's
        // width meanwhile gets the row refused rather than read past.
        if (info->Width() != width || storage->StoreRow(0, y, width, pixels) != 1) {
            refused = true;
            return false;
        }
        SendProgress(info->GetUpdateWindow(), y, int(info->Height()) - 1);
        return true;
    };
    buffers.pipeline.Run(height, RowPipeline::Worker::Produces, read, store);
    return refused ? RowsResult::StoreRefused : RowsResult::Loaded;
}

} // namespace

BitmapStorage* PicBitmapIO::LoadImage(BitmapInfo* info, Bitmap* bitmap, BMMRES* status)
{
    BMMRES ignored;
    BMMRES& result = status != nullptr ? *status : ignored;
    result = kResultSuccess;
    if (openMode != kOpenModeNone) {
        result = ProcessImageIOError(info, kResultWrongMode);
        return nullptr;
    }
    try {
        FileCloser file(OpenNamedFile(info->Name(), "rb"));
        if (!file) {
            result = ProcessImageIOError(info, static_cast<const char*>(nullptr));
            return nullptr;
        }
        if (!ReadPicHeader(file.get(), header, packet, options.withAlpha, options.rgbCompressed,
                           options.alphaCompressed)) {
            result = ProcessImageIOError(info, kResultBadHeader);
            return nullptr;
        }
        FillImageInfo(info);
        if (options.withAlpha == 1)
            info->SetFlags(info->Flags() | kFlagHasAlpha);

        BitmapManager* manager = bitmap != nullptr ? bitmap->Manager() : nullptr;
        BitmapStorage* created =
            bitmap != nullptr ? BMMCreateStorage(manager, kStorage64) : nullptr;
        if (created == nullptr) {
            result = ProcessImageIOError(info, kResultNoStorage);
            return nullptr;
        }
        StorageReleaser releaser(created);
        // A header width with its top bit set is negative: no row buffers for it.
        const int width = header.width;
        if (created->AllocatePixels(info, manager, 1) == 0 || width < 0) {
            result = ProcessImageIOError(info, kResultNoMemory);
            return nullptr;
        }
        LoadBuffers buffers(width);
        if (!buffers.Allocated()) {
            result = ProcessImageIOError(info, kResultNoMemory);
            return nullptr;
        }
        PicByteSource source(file.get());
        errno = 0;
        if (LoadRows(source, options, width, header.height, info, created, buffers) !=
            RowsResult::Loaded) {
            result = ProcessImageIOError(info, "storage refused a row");
            return nullptr;
        }
        created->bi.CopyImageInfo(info);
        return releaser.HandOver();
    } catch (const std::bad_alloc&) {
        result = ProcessImageIOError(info, kResultNoMemory);
        return nullptr;
    }
}

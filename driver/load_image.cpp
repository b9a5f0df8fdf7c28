#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>

#include "driver/file_closer.h"
#include "driver/pic_bitmap_io.h"
#include "driver/pixel_rows.h"
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

// The working rows of a load: `width` host pixels and 4 * width bytes, about
// 12 bytes per pixel of one row. The bytes hold the colour data (interleaved
// red, green, blue when raw; red, green and blue arrays one after another
// when compressed), then the alpha array.
struct LoadBuffers {
    std::unique_ptr<BMM_Color_64[]> pixels;
    std::unique_ptr<uint8_t[]> bytes;

    explicit LoadBuffers(int width)
        : pixels(new (std::nothrow) BMM_Color_64[size_t(width)]),
          bytes(new (std::nothrow) uint8_t[4 * size_t(width)]())
    {
    }
    bool Allocated() const { return pixels != nullptr && bytes != nullptr; }
};

enum class RowsResult { Loaded, StoreRefused };

// Reads rows 0 to height - 1 into the storage. A compressed row that fails
// to decode ends the load early, keeping the rows before it: PIC files cut
// short still show what they hold.
RowsResult LoadRows(PicByteSource& source, const PicOptions& options, int width, int height,
                    BitmapInfo* info, BitmapStorage* storage, LoadBuffers& buffers)
{
    const bool rgbCompressed = options.rgbCompressed == 1;
    const bool withAlpha = options.withAlpha == 1;
    uint8_t* colour = buffers.bytes.get();
    uint8_t* alpha = colour + 3 * size_t(width);
    BMM_Color_64* pixels = buffers.pixels.get();
    for (int y = 0; y < height; ++y) {
        if (rgbCompressed) {
            if (DecodeRgbRow(source, colour, colour + width, colour + 2 * width, width) != 1)
                return RowsResult::Loaded;
        } else {
            source.ReadFilled(colour, 3 * size_t(width));
        }
        if (withAlpha) {
            if (options.alphaCompressed != 1)
                source.ReadFilled(alpha, size_t(width));
            else if (DecodeChannelRow(source, alpha, width) != 1)
                return RowsResult::Loaded;
        }
        const uint8_t* alphaOrNull = withAlpha ? alpha : nullptr;
        if (rgbCompressed)
            WidenPlanarRow(colour, colour + width, colour + 2 * width, alphaOrNull, width, pixels);
        else
            WidenInterleavedRow(colour, alphaOrNull, width, pixels);
        // The row buffer holds `width` pixels: a host that changed its info's
        // width meanwhile gets the row refused rather than read past.
        if (info->Width() != width || storage->StoreRow(0, y, width, pixels) != 1)
            return RowsResult::StoreRefused;
        SendProgress(info->GetUpdateWindow(), y, int(info->Height()) - 1);
    }
    return RowsResult::Loaded;
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

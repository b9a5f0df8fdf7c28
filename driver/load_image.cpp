#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <vector>

#include "driver/file_closer.h"
#include "driver/pic_bitmap_io.h"
#include "driver/pixel_rows.h"
#include "host/bmm_functions.h"
#include "host/window_message.h"
#include "pic/byte_source.h"
#include "pic/pic_row_reader.h"

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

// Widens a row whose channels lie anywhere the row reader put them; the
// driver's own layouts take the vector loops below instead. A 16-bit value
// goes to the host as it is; an 8-bit value v as v << 8.
void WidenAnyRow(const PicRowReader& rows, BMM_Color_64* out)
{
    static const uint8_t kNoByte = 0;
    const uint8_t* high[4];
    const uint8_t* low[4];
    size_t stride[4];
    size_t lowStride[4];
    for (int c = 0; c < 4; ++c) {
        const bool covered = rows.Channel(c) != nullptr;
        high[c] = covered ? rows.Channel(c) : &kNoByte;
        stride[c] = covered ? size_t(rows.Stride(c)) : 0;
        low[c] = rows.Low(c) != nullptr ? rows.Low(c) : &kNoByte;
        lowStride[c] = rows.Low(c) != nullptr ? stride[c] : 0;
    }
    const size_t width = rows.Width();
    for (size_t x = 0; x < width; ++x) {
        uint16_t values[4];
        for (int c = 0; c < 4; ++c)
            values[c] = uint16_t(high[c][x * stride[c]] << 8 | low[c][x * lowStride[c]]);
        out[x].r = values[kRowRed];
        out[x].g = values[kRowGreen];
        out[x].b = values[kRowBlue];
        out[x].a = values[kRowAlpha];
    }
}

bool AnyLowBytes(const PicRowReader& rows)
{
    return rows.Low(kRowRed) != nullptr || rows.Low(kRowGreen) != nullptr ||
           rows.Low(kRowBlue) != nullptr || rows.Low(kRowAlpha) != nullptr;
}

// Widens the row just read into host pixels.
void WidenRow(const PicRowReader& rows, BMM_Color_64* out)
{
    const int width = int(rows.Width());
    const uint8_t* red = rows.Channel(kRowRed);
    const uint8_t* alpha = rows.Channel(kRowAlpha);
    const bool alphaPlanar = alpha == nullptr || rows.Stride(kRowAlpha) == 1;
    const bool eightBitColour = red != nullptr && rows.Channel(kRowGreen) != nullptr &&
                                rows.Channel(kRowBlue) != nullptr && !AnyLowBytes(rows);
    if (eightBitColour && alphaPlanar && rows.Stride(kRowRed) == 3 &&
        rows.Channel(kRowGreen) == red + 1 && rows.Channel(kRowBlue) == red + 2) {
        WidenInterleavedRow(red, alpha, width, out); // our raw rows
    } else if (eightBitColour && alphaPlanar && rows.Stride(kRowRed) == 1 &&
               rows.Stride(kRowGreen) == 1 && rows.Stride(kRowBlue) == 1) {
        WidenPlanarRow(red, rows.Channel(kRowGreen), rows.Channel(kRowBlue), alpha, width, out);
    } else {
        WidenAnyRow(rows, out);
    }
}

enum class RowsResult { Loaded, StoreRefused };

// Reads rows 0 to height - 1 into the storage, one at a time on the calling
// thread: decode the next file row, widen it to host pixels, store it and
// report progress. A run-length row that fails to decode ends the load
// early, keeping the rows before it: PIC files cut short still show what
// they hold.
RowsResult LoadRows(PicByteSource& source, const std::vector<PicChannelPacket>& packets,
                    uint32_t width, uint32_t height, BitmapInfo* info, BitmapStorage* storage)
{
    PicRowReader reader(packets, width);
    // At least one pixel, so that a row of none is still stored from a real array.
    std::vector<BMM_Color_64> pixels(std::max<uint32_t>(width, 1));
    for (uint32_t y = 0; y < height; ++y) {
        if (reader.ReadRow(source) != PicRowStatus::Whole)
            break;
        WidenRow(reader, pixels.data());
        // The row holds `width` pixels: a host that changed its info's
        // width meanwhile gets the row refused rather than read past.
        if (info->Width() != int(width) ||
            storage->StoreRow(0, int(y), int(width), pixels.data()) != 1)
            return RowsResult::StoreRefused;
        SendProgress(info->GetUpdateWindow(), int(y), int(info->Height()) - 1);
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
        PicByteSource source(file.get());
        std::vector<PicChannelPacket> packets;
        if (ReadPicHeader(source, header, packets) != PicHeaderStatus::Read) {
            result = ProcessImageIOError(info, kResultBadHeader);
            return nullptr;
        }
        packet = packets.back();
        ApplyPacketsToOptions(packets, options.withAlpha, options.rgbCompressed,
                              options.alphaCompressed);
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
        if (created->AllocatePixels(info, manager, 1) == 0) {
            result = ProcessImageIOError(info, kResultNoMemory);
            return nullptr;
        }
        errno = 0;
        const RowsResult loaded =
            LoadRows(source, packets, header.Width(), header.Height(), info, created);
        if (loaded == RowsResult::StoreRefused) {
            result = ProcessImageIOError(info, "storage refused a row");
            return nullptr;
        }
        // A file cut short loads (its missing bytes read as 255); a read the
        // system failed is no such file, and errno says why.
        if (source.ReadFailed()) {
            result = ProcessImageIOError(info, static_cast<const char*>(nullptr));
            return nullptr;
        }
        created->bi.CopyImageInfo(info);
        return releaser.HandOver();
    } catch (const std::bad_alloc&) {
        result = ProcessImageIOError(info, kResultNoMemory);
        return nullptr;
    }
}

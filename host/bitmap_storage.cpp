#include "host/bitmap_storage.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "host/pixel_memory.h"

namespace {

// pictool's host backs large storages with huge pages on Linux; a host
// application's allocator gives plain heap blocks, as every other build
// does, and benchmarks ask for those to time the driver as such a host
// sees it.
#if defined(__linux__)
constexpr StoragePages kDefaultPages = StoragePages::Huge;
#else
constexpr StoragePages kDefaultPages = StoragePages::Plain;
#endif
std::atomic<StoragePages> storagePages{kDefaultPages};

} // namespace

void BMMSetStoragePages(StoragePages pages)
{
    storagePages.store(pages);
}

BitmapStorage::BitmapStorage()
    : pixels(nullptr), pixelBytes(0), pixelsMapped(false), pixelWidth(0), pixelHeight(0)
{
}

BitmapStorage::~BitmapStorage()
{
    FreePixels(pixels, pixelBytes, pixelsMapped);
}

void BitmapStorage::Release(int freeFlag)
{
    if (freeFlag & 1) {
        delete this;
        return;
    }
    FreePixels(pixels, pixelBytes, pixelsMapped);
    pixels = nullptr;
    pixelBytes = 0;
    pixelsMapped = false;
    pixelWidth = 0;
    pixelHeight = 0;
}

int BitmapStorage::Width() const
{
    return pixelWidth;
}
int BitmapStorage::Height() const
{
    return pixelHeight;
}
int BitmapStorage::Type() const
{
    return kStorage64;
}

// Bounds of a row operation: y a row, [x, x + count) within the row. Tested
// in 64 bits so that no sum of the caller's numbers can wrap.
static bool RowSpanInside(int x, int y, int count, int width, int height)
{
    if (x < 0 || y < 0 || count < 0 || y >= height)
        return false;
    return int64_t(x) + int64_t(count) <= int64_t(width);
}

int BitmapStorage::FetchRow(int x, int y, int count, BMM_Color_64* out)
{
    if (out == nullptr || !RowSpanInside(x, y, count, pixelWidth, pixelHeight))
        return 0;
    std::memcpy(out, pixels + size_t(y) * size_t(pixelWidth) + size_t(x),
                size_t(count) * sizeof(BMM_Color_64));
    return 1;
}

int BitmapStorage::StoreRow(int x, int y, int count, const BMM_Color_64* in)
{
    if (in == nullptr || !RowSpanInside(x, y, count, pixelWidth, pixelHeight))
        return 0;
    std::memcpy(pixels + size_t(y) * size_t(pixelWidth) + size_t(x), in,
                size_t(count) * sizeof(BMM_Color_64));
    return 1;
}

int BitmapStorage::AllocatePixels(const BitmapInfo* info, BitmapManager*, int)
{
    if (info == nullptr)
        return 0;
    const uint64_t count = uint64_t(info->Width()) * uint64_t(info->Height());
    if (count > kMaxStoragePixels)
        return 0;
    // At least one pixel's bytes, so that an empty image still has storage.
    const size_t bytes = size_t(count ? count : 1) * sizeof(BMM_Color_64);
    bool mapped = false;
    void* block = AllocateZeroedPixels(bytes, storagePages.load() == StoragePages::Huge, mapped);
    if (block == nullptr)
        return 0;
    FreePixels(pixels, pixelBytes, pixelsMapped);
    pixels = static_cast<BMM_Color_64*>(block);
    pixelBytes = bytes;
    pixelsMapped = mapped;
    pixelWidth = info->Width();
    pixelHeight = info->Height();
    bi.SetWidth(info->Width());
    bi.SetHeight(info->Height());
    bi.SetAspect(info->Aspect());
    return 1;
}

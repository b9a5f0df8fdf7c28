#include "host/bitmap_storage.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// Large storages may be mapped on their own, 2 MiB aligned and advised to
// use huge pages: a UHD frame of 64-bit pixels (66 MB) would otherwise take
// some sixteen thousand page faults as it is first written. That is how
// pictool's host backs them on Linux. A host application's allocator gives
// plain heap blocks, as every other build does, and benchmarks ask for
// those to time the driver as such a host sees it.
#if defined(__linux__)
constexpr StoragePages kDefaultPages = StoragePages::Huge;
#else
constexpr StoragePages kDefaultPages = StoragePages::Plain;
#endif
std::atomic<StoragePages> storagePages{kDefaultPages};

#if defined(__linux__)
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kMapFrom = size_t(8) << 20;

size_t MappedSize(size_t bytes)
{
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

// A zeroed block of `bytes` on huge pages: fresh mappings read as zero.
void* MapHugePages(size_t bytes)
{
    const size_t size = MappedSize(bytes);
    // Map one huge page more than needed and cut the mapping to an aligned one.
    void* mapping =
        mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapping);
    const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    if (aligned > start)
        munmap(mapping, aligned - start);
    if (aligned + size < start + size + kHugePage)
        munmap(reinterpret_cast<void*>(aligned + size), start + kHugePage - aligned);
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}
#endif

// A zeroed block of `bytes`; `mapped` tells FreePixels how it was made.
void* AllocateZeroedPixels(size_t bytes, bool& mapped)
{
    mapped = false;
#if defined(__linux__)
    if (bytes >= kMapFrom && storagePages.load() == StoragePages::Huge) {
        mapped = true;
        return MapHugePages(bytes);
    }
#endif
    return std::calloc(bytes, 1);
}

void FreePixels(void* block, size_t bytes, bool mapped)
{
#if defined(__linux__)
    if (block != nullptr && mapped) {
        munmap(block, MappedSize(bytes));
        return;
    }
#else
    (void)bytes;
    (void)mapped;
#endif
    std::free(block);
}

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
    void* block = AllocateZeroedPixels(bytes, mapped);
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

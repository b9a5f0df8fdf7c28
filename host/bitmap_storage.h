// BitmapStorage: host-owned pixels, 64 bits each (red, green, blue, alpha as
// unsigned 16-bit values), with a BitmapInfo of their own.
#pragma once

#include <cstddef>

#include "host/bitmap_info.h"

struct BMM_Color_64 {
    uint16_t r;
    uint16_t g;
    uint16_t b;
    uint16_t a;
};
static_assert(sizeof(BMM_Color_64) == 8, "a host pixel is 64 bits");

class BitmapManager;

class BMM_API BitmapStorage {
public:
    BitmapStorage();
    // The virtual operations keep the host's slot order: Release first, then
    // queries the drivers do not use, then the row and allocation operations.
    virtual void Release(int freeFlag);
    virtual int Width() const;
    virtual int Height() const;
    virtual int Type() const;
    // Copies `count` pixels of row `y` from column `x`; refuses (0) anything
    // outside the storage and leaves `pixels` untouched then.
    virtual int FetchRow(int x, int y, int count, BMM_Color_64* pixels);
    // Stores `count` pixels into row `y` from column `x`; 1 on success, 0 for
    // anything outside the storage.
    virtual int StoreRow(int x, int y, int count, const BMM_Color_64* pixels);
    // Sizes the storage from `info` (width, height, aspect), zero-filled;
    // nonzero on success. Any earlier pixels are dropped.
    virtual int AllocatePixels(const BitmapInfo* info, BitmapManager* manager, int mode);

    BitmapInfo bi;

protected:
    virtual ~BitmapStorage();

private:
    BMM_Color_64* pixels;
    std::size_t pixelBytes; // what the block holds
    bool pixelsMapped;      // mapped on huge pages, not from the heap
    int pixelWidth;
    int pixelHeight;
};

// How this stand-in backs large storages from now on: on huge pages, as
// pictool's host does on Linux (the default there), or as plain heap
// blocks, as a host application's allocator gives them (the default
// elsewhere, and the only kind there).
enum class StoragePages { Plain, Huge };
BMM_API void BMMSetStoragePages(StoragePages pages);

// Largest number of pixels one storage may hold; a bound on allocations
// that a file's claims would otherwise size.
constexpr int kMaxStoragePixelsLog2 = 28;
constexpr uint64_t kMaxStoragePixels = uint64_t(1) << kMaxStoragePixelsLog2;

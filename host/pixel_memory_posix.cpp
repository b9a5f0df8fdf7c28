#include "host/pixel_memory.h"

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

// Large storages asked for on huge pages are mapped on their own, 2 MiB
// aligned and, where the system has them, advised to use huge pages: a UHD
// frame of 64-bit pixels (66 MB) would otherwise take some sixteen thousand
// page faults as it is first written. Fresh mappings read as zero, as every
// new storage must. Everything else is a plain heap block.
static constexpr size_t kHugePage = size_t(2) << 20;
static constexpr size_t kMapFrom = size_t(8) << 20;

static size_t MappedSize(size_t bytes)
{
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

void* AllocateZeroedPixels(size_t bytes, bool hugePages, bool& mapped)
{
    mapped = false;
    if (!hugePages || bytes < kMapFrom)
        return std::calloc(bytes, 1);
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
#if defined(MADV_HUGEPAGE)
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
    mapped = true;
    return reinterpret_cast<void*>(aligned);
}

void FreePixels(void* block, size_t bytes, bool mapped)
{
    if (block != nullptr && mapped)
        munmap(block, MappedSize(bytes));
    else
        std::free(block);
}

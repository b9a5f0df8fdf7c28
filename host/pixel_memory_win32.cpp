#include "host/pixel_memory.h"

#include <cstdlib>

// Plain heap blocks, as a host application's allocator gives them.
void* AllocateZeroedPixels(size_t bytes, bool, bool& mapped)
{
    mapped = false;
    return std::calloc(bytes, 1);
}

void FreePixels(void* block, size_t, bool)
{
    std::free(block);
}

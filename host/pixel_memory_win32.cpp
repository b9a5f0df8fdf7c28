#include "host/pixel_memory.h"

#include <cstdlib>

void* AllocateZeroedPixels(size_t bytes)
{
    return std::calloc(bytes, 1);
}

void FreePixels(void* block, size_t)
{
    std::free(block);
}

// Zeroed memory for a storage's pixels, and its release: a platform file
// each (pixel_memory_posix.cpp, pixel_memory_win32.cpp). Inside the host
// library only.
#pragma once

#include <cstddef>

// `bytes` zero bytes, or null when they cannot be had.
void* AllocateZeroedPixels(size_t bytes);
// Releases a block of AllocateZeroedPixels(bytes); null is fine.
void FreePixels(void* block, size_t bytes);

// Zeroed memory for a storage's pixels, and its release: a platform file
// each (pixel_memory_posix.cpp, pixel_memory_win32.cpp). Inside the host
// library only.
#pragma once

#include <cstddef>

// `bytes` zero bytes, or null when they cannot be had. `hugePages` asks for
// a large block to be mapped on its own, on huge pages where the system has
// them; `mapped` tells FreePixels how the block was made.
void* AllocateZeroedPixels(size_t bytes, bool hugePages, bool& mapped);
// Releases a block of AllocateZeroedPixels(bytes, ..., mapped); null is fine.
void FreePixels(void* block, size_t bytes, bool mapped);

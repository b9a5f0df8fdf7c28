// A saved driver options block: the 96 bytes a driver's SaveOptions wrote,
// kept in a file of exactly that size.
#pragma once

#include <cstdint>
#include <string>

#include "driver/pic_options.h"

struct OptionsBlock {
    uint8_t bytes[kPicOptionsSize];
};

// Reads `path` into `block`; 0 with a one-line reason in `error` when it
// cannot be read, is not 96 bytes long or lacks the block's signature.
int ReadOptionsFile(const std::string& path, OptionsBlock& block, std::string& error);

// Writes the 96 bytes at `block` to `path`, as every output is written
// (output/atomic_output.h); 0 with "cannot create (...)" or "cannot write
// (...)" in `error` when that fails.
int WriteOptionsFile(const void* block, const std::string& path, std::string& error);

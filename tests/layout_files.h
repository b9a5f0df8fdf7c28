// PIC files of any packet layout, built byte by byte for the tests: every
// packet type with any channel mask, with a picture that has runs and noise.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/test_support.h"

struct LayoutPacket {
    uint8_t type; // 0 raw, 1 pure run-length, 2 mixed run-length
    uint8_t mask; // channel bits; the low four are carried as they are
};

// Channel c (0 red .. 3 alpha) of pixel (x, y): runs of three, with noise in
// every 17 pixels.
uint8_t LayoutValue(uint32_t x, uint32_t y, int channel);

struct LayoutFile {
    Bytes bytes;
    std::vector<size_t> rowStarts; // where each row's data begins, then the end
};

LayoutFile BuildLayoutFile(uint32_t width, uint32_t height,
                           const std::vector<LayoutPacket>& packets);

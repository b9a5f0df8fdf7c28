// PIC files of any packet layout, built byte by byte for the tests: every
// packet type with any channel mask, 8 or 16 bits a channel, with a picture
// that has runs and noise.
#pragma once

#include <cstdint>
#include <vector>

#include "pic/pic_image.h"
#include "tests/test_support.h"

struct LayoutPacket {
    uint8_t type;     // 0 raw, 1 pure run-length, 2 mixed run-length
    uint8_t mask;     // channel bits; the low four are carried as they are
    uint8_t bits = 8; // 8, or 16: two bytes a value, high first
};

// Channel c (0 red .. 3 alpha) of pixel (x, y): runs of three, with noise in
// every 17 pixels.
uint8_t LayoutValue(uint32_t x, uint32_t y, int channel);
// The same picture's 16-bit values, whose two bytes differ.
uint16_t LayoutValue16(uint32_t x, uint32_t y, int channel);

// Channel c of pixel (x, y) as a file of `packets` holds it: from the last
// packet covering it, 8 or 16 bits wide, or no packet at all (bits 0).
struct LayoutStored {
    int bits;
    uint16_t value;
};
LayoutStored LayoutStoredValue(const std::vector<LayoutPacket>& packets, uint32_t x, uint32_t y,
                               int channel);

struct LayoutFile {
    Bytes bytes;
    std::vector<size_t> rowStarts; // where each row's data begins, then the end
    // Per pixel, row after row: whether every packet stored it in a literal
    // of a mixed run-length row.
    std::vector<bool> literal;
};

LayoutFile BuildLayoutFile(uint32_t width, uint32_t height,
                           const std::vector<LayoutPacket>& packets);

// The file WritePicImage writes for `pixels`, kept in memory (a failed write
// fails the test).
Bytes WritePicToMemory(const Bytes& pixels, int width, int height, int channels, size_t stride,
                       const PicWriteOptions& options);

// PicRowReader: reads the rows of a PIC file, one after another, for any
// packet chain, into byte arrays that a loader widens and stores.
//
// Per row each packet's data is decoded in chain order: raw packets of one
// channel and run-length packets into one array per channel; raw packets of
// several channels as they lie in the file, interleaved, so that our own raw
// colour rows reach the loader without a copy. Channel(c) then says where
// channel c of the row lies (a later packet covering a channel wins), or null
// when no packet covers it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pic/byte_source.h"
#include "pic/pic_header.h"
#include "pic/rle_codec.h"

// Channel indices, in the order a pixel carries its bytes.
constexpr int kRowRed = 0;
constexpr int kRowGreen = 1;
constexpr int kRowBlue = 2;
constexpr int kRowAlpha = 3;

class PicRowReader {
public:
    // `packets` as ReadPicHeader gives them (sizes 1..4 bytes per pixel),
    // `width` up to 65535. Allocates 8 bytes per pixel (may throw
    // std::bad_alloc).
    PicRowReader(const std::vector<PicChannelPacket>& packets, uint32_t width);

    // Decodes the next row from `source`. Whole unless a run-length packet
    // fails: raw bytes and run-length pixel bytes past the end of the file
    // read as 255 (the source's WentShort tells), a missing count byte does
    // not. After a failure the arrays hold what the row's earlier packets
    // stored.
    PicRowStatus ReadRow(PicByteSource& source);

    // Channel c's byte of pixel x is Channel(c)[x * Stride(c)].
    const uint8_t* Channel(int c) const { return channels[c]; }
    int Stride(int c) const { return strides[c]; }
    uint32_t Width() const { return width; }

private:
    struct Step {
        uint8_t type;
        int pixelBytes;
        uint8_t* planes[4];   // one array per covered channel, in pixel order
        bool interleaved;     // raw, several channels, read into `interleaved`
        bool keptInterleaved; // ... and left there for the loader
    };

    uint32_t width;
    std::vector<Step> steps;
    std::unique_ptr<uint8_t[]> bytes; // four channel arrays, then the interleaved row
    uint8_t* interleaved;
    const uint8_t* channels[4] = {};
    int strides[4] = {};
};

// The words for why a row is not whole: "cut short", "run past row end",
// "zero count" (empty for Whole).
const char* PicRowStatusText(PicRowStatus status);

// Where a file's rows stop being whole.
struct PicDamage {
    uint32_t row;        // the first row that is not whole
    uint64_t offset;     // the source position where that row's data begins
    PicRowStatus reason; // CutShort also when a byte of the row is missing
};

struct PicRowsCheck {
    uint32_t rowsComplete = 0; // rows whose every byte is present and decodes
    bool damaged = false;
    PicDamage damage{};
    uint64_t trailingBytes = 0; // after the last row, when none is damaged
};

// Reads `height` rows of `width` pixels from `source`, standing at the first
// row's data, and says how far they are whole. Allocates 8 bytes per pixel
// of one row (may throw std::bad_alloc).
PicRowsCheck CheckPicRows(PicByteSource& source, const std::vector<PicChannelPacket>& packets,
                          uint32_t width, uint32_t height);

// The most bytes `height` rows of `width` pixels in `packets` can take in a
// file: raw packets exactly, run-length ones at their worst, a long run
// (count byte, 16-bit count, one pixel) for every pixel. A reader that stops
// there has read every byte a load of the file uses.
uint64_t PicMostRowBytes(const std::vector<PicChannelPacket>& packets, uint32_t width,
                         uint32_t height);

// PicRowReader: reads the rows of a PIC file, one after another, for any
// packet chain, into byte arrays that a loader widens and stores.
//
// Per row each packet's data is decoded in chain order: raw packets of one
// 8-bit channel and run-length packets into arrays of their own; raw
// packets of several bytes a pixel as they lie in the file, interleaved, so
// that our own raw colour rows reach the loader without a copy. Channel(c)
// then says where channel c of the row lies (a later packet covering a
// channel wins), or null when no packet covers it. A channel from a 16-bit
// packet has its high bytes there and its low bytes at Low(c), with the same
// stride; Low(c) is null for an 8-bit channel.
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
    // `packets` as ReadPicHeader gives them (1..8 bytes per pixel), `width`
    // up to 65535. Allocates 8 bytes per pixel, 16 when some packet is 16-bit
    // (may throw std::bad_alloc).
    PicRowReader(const std::vector<PicChannelPacket>& packets, uint32_t width);

    // Decodes the next row from `source`. Whole unless a run-length packet
    // fails: raw bytes and run-length pixel bytes past the end of the file
    // read as 255 (the source's WentShort tells), a missing count byte does
    // not. After a failure the arrays hold what the row's earlier packets
    // stored.
    PicRowStatus ReadRow(PicByteSource& source);

    // Channel c's byte of pixel x is Channel(c)[x * Stride(c)]; for a 16-bit
    // channel that is the value's high byte, and Low(c)[x * Stride(c)] its
    // low byte.
    const uint8_t* Channel(int c) const { return channels[c]; }
    const uint8_t* Low(int c) const { return lows[c]; }
    int Stride(int c) const { return strides[c]; }
    uint32_t Width() const { return width; }

private:
    struct Step {
        uint8_t type;
        int pixelBytes;
        uint8_t* planes[8];   // one array per byte of a pixel, in pixel order
        bool interleaved;     // raw, several channels, read into `interleaved`
        bool keptInterleaved; // ... and left there for the loader
    };

    uint32_t width;
    std::vector<Step> steps;
    // Four channel arrays, four arrays of low bytes when some packet is
    // 16-bit, then the interleaved row.
    std::unique_ptr<uint8_t[]> bytes;
    uint8_t* interleaved;
    const uint8_t* channels[4] = {};
    const uint8_t* lows[4] = {};
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
// row's data, and says how far they are whole. Allocates what a PicRowReader
// does (may throw std::bad_alloc).
PicRowsCheck CheckPicRows(PicByteSource& source, const std::vector<PicChannelPacket>& packets,
                          uint32_t width, uint32_t height);

// The most bytes `height` rows of `width` pixels in `packets` can take in a
// file: raw packets exactly, run-length ones at their worst, a long run
// (count byte, 16-bit count, one pixel) for every pixel. A reader that stops
// there has read every byte a load of the file uses.
uint64_t PicMostRowBytes(const std::vector<PicChannelPacket>& packets, uint32_t width,
                         uint32_t height);

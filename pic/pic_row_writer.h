// PicRowWriter: the one writer of PIC files, a sink of rows. It composes the
// header and packets of one of the two layouts we write (one RGB packet, or
// RGB and alpha packets, both raw or both mixed run-length) and then encodes
// each row its caller puts in the arrays it hands out. The driver narrows
// host pixels into them; whole 8-bit pictures are split into them.
//
// Per row the caller fills every array of Row() that is not null, then calls
// WriteRow:
//   raw          rgb (red, green, blue interleaved), and alpha
//   compressed   red, green, blue (and alpha): the planes the encoder
//                compares; and rgb too where the last row was mostly literal
//                stretches, which the encoder then copies whole
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "pic/byte_sink.h"
#include "pic/pic_header.h"

enum class PicWriteResult {
    Written,
    TooLarge,    // a side above kPicMaxSide, or channels not 3 or 4
    NoMemory,    // the row buffers could not be allocated; nothing was written
    WriteFailed, // the output refused bytes
};

// Where the next row's bytes go, one byte per channel and pixel. Null where
// this row needs no such array.
struct PicRowArrays {
    uint8_t* red = nullptr; // `width` bytes each
    uint8_t* green = nullptr;
    uint8_t* blue = nullptr;
    uint8_t* alpha = nullptr;
    uint8_t* rgb = nullptr; // 3 * width bytes: red, green, blue, pixel by pixel
};

class PicRowWriter {
public:
    explicit PicRowWriter(PicOutput& sink) : output(sink) {}

    // Allocates the row buffers and hands the header and packets
    // (ComposePicHeader) to the output. Sides above kPicMaxSide are refused
    // before anything is written.
    PicWriteResult Start(uint32_t width, uint32_t height, bool alpha,
                         const PicWriteOptions& options);

    const PicRowArrays& Row() const { return arrays; }

    // After a Start that answered Written, `height` times: encodes the row
    // the caller put in Row() and hands it to the output. `rgb`, when not
    // null, is the row's red, green and blue interleaved (3 * width bytes)
    // in the caller's memory, read in place of Row().rgb, which then need
    // not be filled.
    PicWriteResult WriteRow(const uint8_t* rgb = nullptr);

private:
    PicOutput& output;
    int width = 0; // <= kPicMaxSide
    bool alpha = false;
    bool compressed = false;
    std::unique_ptr<uint8_t[]> buffer;
    uint8_t* encoded = nullptr;
    PicRowArrays arrays;
};

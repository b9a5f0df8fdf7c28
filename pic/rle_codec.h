// The mixed run-length codec of PIC rows.
//
// A row is a sequence of packets, each opened by a count byte c:
//   c 0..127   literal:   c + 1 pixels follow, each written out in full
//   c 128      long run:  16-bit big-endian count N, then one pixel (N pixels)
//   c 129..255 short run: one pixel, repeated c - 127 times (2..128)
// A pixel is one byte per channel of its packet (red, green, blue, alpha, as
// the packet covers them): red, green, blue in our colour stream, one byte
// in our alpha stream. Packets never reach past the row; rows carry no
// markers.
//
// Pure run-length rows (packet type 1) are pairs of a count byte 1..255 and
// one pixel, repeated count times, covering the row exactly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pic/byte_source.h"

// Decoders: 1 when the row's packets add up to exactly `width` pixels, 0 when
// the end of the file meets a count byte or a packet would reach past the
// row. Each packet is tested against the rest of the row before any of its
// values is read or stored; a value byte past the end of the file reads as
// 255, but a long run whose 16-bit count the end of the file cuts short
// fails the row at once. On success the source stands right after the row's
// last packet; after a failure, after the failing packet's count byte (and a
// long run's count). Nothing of a failing packet is stored. A width of 0 or
// less still reads one packet: only a long run of 0 then succeeds, and only
// for width 0. Arrays hold at least `width` bytes; only indices 0..width-1
// are written.
//
// The decoders take the packets that lie whole in the source's buffer
// straight from it (copies for literals, fills for runs) and read the last
// packets before the end of the file through the checked path; a source with
// a buffer of one byte reads nothing beyond the row's last packet.
int DecodeRgbRow(PicByteSource& source, uint8_t* red, uint8_t* green, uint8_t* blue, int width);
int DecodeChannelRow(PicByteSource& source, uint8_t* values, int width);

// How a row's decoding ended.
enum class PicRowStatus {
    Whole,
    CutShort,   // the end of the file where a count byte (or long count) was due
    RunPastEnd, // a packet would reach past the row's last pixel
    ZeroCount,  // a pure run-length count of 0
};

// Any row of pixels of `pixelBytes` bytes (1..4, 6 or 8), each byte of a
// pixel into its own array of `planes`: the mixed form as above
// (DecodeRgbRow and DecodeChannelRow are its 3- and 1-byte cases), and the
// pure form, whose pixel bytes past the end of the file also read as 255. A
// width of 0 holds no pure pair. A 16-bit packet's pixels are two bytes a
// channel, so its rows are these rows with twice the bytes: the high and
// the low byte of each value go to arrays of their own.
PicRowStatus DecodeMixedRow(PicByteSource& source, uint8_t* const* planes, int pixelBytes,
                            int width);
PicRowStatus DecodePureRow(PicByteSource& source, uint8_t* const* planes, int pixelBytes,
                           int width);

// Encoders: one row into `out`, which holds MaxEncodedRgbRow(width) or
// MaxEncodedChannelRow(width) bytes. Runs of 2 or more equal pixels become
// run packets (128 or more in the long form, so the count byte 255 never
// appears), everything else literal packets of at most 128 pixels. Answer
// the number of bytes written, whose pixels add up to `width` (every width
// from 0 up), or -1 for a negative width. Every packet costs at most one
// byte per pixel beyond the pixels' own bytes (a literal of n pixels 1 + n
// pixel sizes, a run of 2 or more 1 + one pixel size, a long run of 128 or
// more 3 + one). A run longer than a 16-bit count holds, which only a row
// wider than any PIC row has, goes out as several long runs.
constexpr size_t MaxEncodedRgbRow(int width)
{
    return width > 0 ? 4 * size_t(width) : 0;
}
constexpr size_t MaxEncodedChannelRow(int width)
{
    return width > 0 ? 2 * size_t(width) : 0;
}
ptrdiff_t EncodeRgbRow(uint8_t* out, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                       int width);
ptrdiff_t EncodeChannelRow(uint8_t* out, const uint8_t* values, int width);

// The colour row given also as interleaved red, green, blue (3 * width
// bytes, the same pixels), from which literal stretches are copied whole:
// the same bytes as above, sooner where the row is mostly literals.
ptrdiff_t EncodeRgbRow(uint8_t* out, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                       const uint8_t* rgb, int width);

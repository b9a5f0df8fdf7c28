// The mixed run-length codec of PIC rows.
//
// A row is a sequence of packets, each opened by a count byte c:
//   c 0..127   literal:   c + 1 pixels follow, each written out in full
//   c 128      long run:  16-bit big-endian count N, then one pixel (N pixels)
//   c 129..255 short run: one pixel, repeated c - 127 times (2..128)
// A pixel is red, green, blue in the colour stream and one byte in a channel
// stream. Packets never reach past the row; rows carry no markers.
#pragma once

#include <cstdint>
#include <cstdio>

#include "pic/byte_sink.h"
#include "pic/byte_source.h"

// Decoders: 1 when the row's packets add up to exactly `width` pixels, 0 when
// the end of the file meets a count byte or a packet would reach past the
// row. Each packet is tested against the rest of the row before any of its
// values is read or stored; a value byte past the end of the file reads as
// 255. On success the source stands right after the row's last packet.
// Arrays hold at least `width` bytes; only indices 0..width-1 are written.
int DecodeRgbRow(PicByteSource& source, uint8_t* red, uint8_t* green, uint8_t* blue, int width);
int DecodeChannelRow(PicByteSource& source, uint8_t* values, int width);

// The same on a C stream, reading nothing beyond the row's last packet.
int DecodeRgbRow(FILE* file, uint8_t* red, uint8_t* green, uint8_t* blue, int width);
int DecodeChannelRow(FILE* file, uint8_t* values, int width);

// Encoders: write one row; runs of 2 or more equal pixels become run packets
// (128 or more in the long form, so the count byte 255 never appears),
// everything else literal packets of at most 128 pixels. Return 1 when the
// pixels written add up to `width` (every width from 0 up).
int EncodeRgbRow(PicByteSink& sink, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                 int width);
int EncodeChannelRow(PicByteSink& sink, const uint8_t* values, int width);

// The same on a C stream, through PutByte and PutBigEndian16.
int EncodeRgbRow(FILE* file, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                 int width);
int EncodeChannelRow(FILE* file, const uint8_t* values, int width);

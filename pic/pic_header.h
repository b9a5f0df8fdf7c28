// The Softimage PIC file header and its channel packets.
//
//   offset size field    on disk (big-endian)
//        0    4 magic    53 80 F6 34
//        4    4 version  float 3.7 (0x406CCCCD)
//        8   80 comment  text, NUL-terminated when we write it
//       88    4 id       'P' 'I' 'C' 'T'
//       92    2 width    pixels per row
//       94    2 height   rows
//       96    4 ratio    pixel aspect ratio, float
//      100    2 fields   3
//      102    2 pad      0
//      104  4*n packets  chained, size, type, channel (one byte each)
//
// Row data follows the packets: per row the colour stream, then the alpha
// stream. No row markers: a row ends where its data adds up to the width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "pic/product.h"

constexpr uint32_t kPicMagic = 0x5380F634;
constexpr uint32_t kPicVersionBits = 0x406CCCCD; // the float 3.7
constexpr int kPicHeaderSize = 104;
constexpr int kPicCommentSize = 80;
constexpr char kPicCommentPrefix[] = "Created with " PIC_PRODUCT_NAME ":";

// Channel packet values.
constexpr uint8_t kPacketRaw = 0;
constexpr uint8_t kPacketMixedRunLength = 2;
constexpr uint8_t kChannelRgb = 0xE0;
constexpr uint8_t kChannelAlpha = 0x10;

// The in-memory copy of bytes 0-103; after SwapHeaderFields every numeric
// field holds its value in host order.
struct PicHeader {
    uint32_t magic;
    uint32_t version; // the float's bit pattern
    char comment[kPicCommentSize];
    char id[4];
    int16_t width;
    int16_t height;
    float ratio;
    int16_t fields;
    int16_t pad;
};
static_assert(sizeof(PicHeader) == kPicHeaderSize, "the PIC header is 104 bytes");
static_assert(offsetof(PicHeader, comment) == 8 && offsetof(PicHeader, id) == 88 &&
                  offsetof(PicHeader, width) == 92 && offsetof(PicHeader, ratio) == 96 &&
                  offsetof(PicHeader, fields) == 100 && offsetof(PicHeader, pad) == 102,
              "PicHeader fields sit at their file offsets");

struct PicChannelPacket {
    uint8_t chained; // 1 = another packet follows
    uint8_t size;    // bits per channel, written as 8, never examined
    uint8_t type;    // 2 = mixed run-length, anything else raw
    uint8_t channel; // mask: 0x80 red, 0x40 green, 0x20 blue, 0x10 alpha
};
static_assert(sizeof(PicChannelPacket) == 4, "a channel packet is 4 bytes");

// Converts the numeric fields between the file's big-endian order and the
// host's order, in place; comment and id are bytes and stay as they are. The
// same call converts either way, on any host.
void SwapHeaderFields(PicHeader& header);

// Reads the header and the packet chain. On success (1) the file is at the
// first row's data, and the three layout fields say what the chain holds:
// withAlpha 1 when the last packet is the alpha channel, rgbCompressed and
// alphaCompressed 1 or 0 for the packets seen (a field whose packet is absent
// keeps its value). Returns 0 for a short header, a wrong magic or a chain
// that the end of the file cuts short; the layout fields are then unchanged,
// while `header` holds whatever was read.
int ReadPicHeader(FILE* file, PicHeader& header, PicChannelPacket& packet, int32_t& withAlpha,
                  int32_t& rgbCompressed, int32_t& alphaCompressed);

// Writes bytes 0-103 and the one or two packets of our layout. `comment` is
// an 80-byte field that need not hold a zero byte; it is stored after the
// prefix, the joined text cut to 79 bytes. Only the value 1 sets withAlpha
// and rgbCompressed. Returns 1 when every write succeeded, else 0.
int WritePicHeader(FILE* file, const char* comment, int width, int height, uint32_t ratioBits,
                   int32_t withAlpha, int32_t rgbCompressed);

// The 80 comment bytes that WritePicHeader stores for a user comment.
void ComposeHeaderComment(const char* comment, char out[kPicCommentSize]);

// The length of an 80-byte comment field, the header's or the options
// block's: its bytes up to the first zero byte, never more than the field.
size_t PicCommentLength(const char* comment);

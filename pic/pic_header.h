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
// Row data follows the packets: per row, packet after packet in chain order,
// `width` pixels of that packet's channels (in the order red, green, blue,
// alpha; one byte each, or two big-endian bytes in a packet of size 16), raw
// or run-length coded as the packet's type says. No row markers: a row ends
// where its data adds up to the width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class PicByteSource;

#include "pic/product.h"

constexpr uint32_t kPicMagic = 0x5380F634;
constexpr uint32_t kPicVersionBits = 0x406CCCCD; // the float 3.7
constexpr int kPicHeaderSize = 104;
constexpr int kPicCommentSize = 80;
constexpr char kPicId[4] = {'P', 'I', 'C', 'T'};
constexpr uint16_t kPicFields = 3; // both fields of a frame
// What the driver stores before its user's comment.
constexpr char kPicCommentPrefix[] = "Created with " PIC_PRODUCT_NAME ":";

// True when the first `count` bytes, at most four of them, are those the
// magic starts a file with: a file that begins so may be a PIC file.
bool PicMagicAgrees(const uint8_t* bytes, size_t count);

// Channel packet values.
constexpr uint8_t kPacketRaw = 0;
constexpr uint8_t kPacketPureRunLength = 1;
constexpr uint8_t kPacketMixedRunLength = 2;
constexpr uint8_t kChannelRed = 0x80;
constexpr uint8_t kChannelGreen = 0x40;
constexpr uint8_t kChannelBlue = 0x20;
constexpr uint8_t kChannelRgb = 0xE0;
constexpr uint8_t kChannelAlpha = 0x10;
constexpr uint8_t kChannelBits = 0xF0; // the low four bits name no channel
// Each channel's bit, in the order a pixel carries its bytes.
constexpr uint8_t kChannelMasks[4] = {kChannelRed, kChannelGreen, kChannelBlue, kChannelAlpha};

// Every packet adds its channels to each pixel of every row, and raw bytes
// past the end of a file read as 255 without ending the load, so a short
// file with a long chain would make a load run for minutes. Four channels
// need at most four packets; a longer chain is refused.
constexpr int kMaxPicPackets = 64;

// The widest and highest image written: rows are coded with signed 16-bit
// widths and positions, and readers that take the header's sizes as signed
// read them too.
constexpr int kPicMaxSide = 32767;
// "image wider or higher than 32767 pixels"
std::string PicTooLargeText();

// The in-memory copy of bytes 0-103; after SwapHeaderFields every numeric
// field holds its value in host order.
struct PicHeader {
    uint32_t magic;
    uint32_t version; // the float's bit pattern
    char comment[kPicCommentSize];
    char id[4];
    int16_t width; // the file's bits; a reader takes them through Width()
    int16_t height;
    float ratio;
    int16_t fields;
    int16_t pad;

    // Sizes as a file states them: unsigned 16-bit, up to 65535.
    uint16_t Width() const { return uint16_t(width); }
    uint16_t Height() const { return uint16_t(height); }
};
static_assert(sizeof(PicHeader) == kPicHeaderSize, "the PIC header is 104 bytes");
static_assert(offsetof(PicHeader, comment) == 8 && offsetof(PicHeader, id) == 88 &&
                  offsetof(PicHeader, width) == 92 && offsetof(PicHeader, ratio) == 96 &&
                  offsetof(PicHeader, fields) == 100 && offsetof(PicHeader, pad) == 102,
              "PicHeader fields sit at their file offsets");

struct PicChannelPacket {
    uint8_t chained; // 1 = another packet follows
    uint8_t size;    // bits per channel: 8, or 16 (two bytes, high first)
    uint8_t type;    // 0 raw, 1 pure run-length, 2 mixed run-length
    uint8_t channel; // mask: 0x80 red, 0x40 green, 0x20 blue, 0x10 alpha
};
static_assert(sizeof(PicChannelPacket) == 4, "a channel packet is 4 bytes");

// Channel packet sizes read: bits per channel value.
constexpr uint8_t kPacketBits8 = 8;
constexpr uint8_t kPacketBits16 = 16;

// A 16-bit value to 8 bits, rounded: round(v * 255 / 65535), which is
// round(v / 257) and never a tie. An 8-bit v widens to v * 257, which this
// gives back.
constexpr uint8_t RoundTo8Bits(uint16_t value)
{
    return uint8_t((uint32_t(value) + 128) / 257);
}

// Bytes per pixel of a packet's data: per channel its mask covers, one byte,
// or two in a 16-bit packet (1..4, or 2, 4, 6, 8).
int PacketPixelBytes(const PicChannelPacket& packet);

// Bits per channel of the picture a chain gives: 16 when some channel's
// values come from a 16-bit packet (the last packet covering a channel
// gives it), else 8.
int PicChainBits(const std::vector<PicChannelPacket>& packets);
// The same per channel (red, green, blue, alpha): 8, 16, or 0 for a channel
// no packet covers.
void PicChannelBits(const std::vector<PicChannelPacket>& packets, uint8_t bits[4]);

// Converts the numeric fields between the file's big-endian order and the
// host's order, in place; comment and id are bytes and stay as they are. The
// same call converts either way, on any host.
void SwapHeaderFields(PicHeader& header);

// How a header read ended: read, or why not, in the reader's own terms.
enum class PicHeaderStatus {
    Read,
    HeaderCutShort,  // the file ends inside the first 104 bytes, after a magic
    BadMagic,        // bytes 0-3 (or as many as there are) are not 53 80 F6 34
    PacketsCutShort, // the file ends inside the packet chain
    BadPacket,       // a packet of a size other than 8 or 16, of another type,
                     // or naming no channel
    TooManyPackets,  // a chain longer than kMaxPicPackets
    ReadFailed,      // the stream reported an error, not the file's end
};

// A few words for a status, lower case: "file ends inside the header", ...
// ("read" for Read).
const char* PicHeaderStatusText(PicHeaderStatus status);

// Reads the header and the packet chain: packets while `chained` is exactly
// 1, in any order, at most kMaxPicPackets. Each must have size 8 or 16 (one
// chain may mix them: each packet's data says its own size), type 0, 1 or 2,
// and a mask with some of its high four bits set. When Read, the source
// is at the first row's data and `packets` holds the chain. Otherwise
// `packets` is unchanged, while `header` holds whatever was read.
PicHeaderStatus ReadPicHeader(PicByteSource& source, PicHeader& header,
                              std::vector<PicChannelPacket>& packets);

// What a chain says to the driver's options: a packet covering any colour
// sets rgbCompressed, one covering alpha sets alphaCompressed (1 for type 2,
// else 0; a later packet wins); withAlpha is 1 when some packet covers alpha.
// A field no packet speaks for keeps its value.
void ApplyPacketsToOptions(const std::vector<PicChannelPacket>& packets, int32_t& withAlpha,
                           int32_t& rgbCompressed, int32_t& alphaCompressed);

// The same read on a C stream, applying the chain to the three layout fields
// (unchanged unless Read) and leaving its last packet in `packet`. It reads
// no byte past the chain, so a stream that cannot seek (a pipe, a terminal)
// is read as well as a file; when Read the stream is at the first row's data.
PicHeaderStatus ReadPicHeader(FILE* file, PicHeader& header, PicChannelPacket& packet,
                              int32_t& withAlpha, int32_t& rgbCompressed, int32_t& alphaCompressed);

// What a file we write holds besides its pixels and their layout.
struct PicWriteOptions {
    bool compressed = true;             // mixed run-length rows, else raw
    float aspect = 1.0f;                // stored bit for bit
    char comment[kPicCommentSize] = {}; // stored as given, all 80 bytes
};

// The header of a file we write: 104 bytes and the one or two packets of
// our layouts (RGB, or RGB and alpha, both raw or both mixed run-length).
constexpr size_t kPicWrittenHeaderMax = size_t(kPicHeaderSize) + 2 * sizeof(PicChannelPacket);

// Composes that header into `out` and answers its size: the sides' low 16
// bits, the aspect's bits and the 80 comment bytes as given.
size_t ComposePicHeader(uint8_t (&out)[kPicWrittenHeaderMax], uint32_t width, uint32_t height,
                        bool alpha, const PicWriteOptions& options);

// The 80 comment bytes the driver stores for a user comment: the prefix,
// then `comment`, an 80-byte field that need not hold a zero byte (null for
// none), the joined text cut to 79 bytes and zero-filled.
void ComposeHeaderComment(const char* comment, char out[kPicCommentSize]);

// The length of an 80-byte comment field, the header's or the options
// block's: its bytes up to the first zero byte, never more than the field.
size_t PicCommentLength(const char* comment);

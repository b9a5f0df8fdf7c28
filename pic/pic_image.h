// Whole PIC images in one call, for programs that want the picture rather
// than a host's storage: `pictool check`, the Python package and the tests.
//
// Reading takes any layout ReadPicHeader accepts, from a named file or from
// bytes in memory, and gives the header's facts, how far the rows are whole
// (the same PicRowsCheck that CheckPicRows gives) and, when asked, the
// pixels as interleaved RGB, or RGBA when some packet carries alpha, 8 bits
// a channel or, when asked for the depth stored and some packet is 16-bit,
// 16 (see PicImageRows for the rules between the two). A channel no packet
// carries reads as 0. The pixels of a damaged file are those the driver
// loads: rows up to a run-length row that fails to decode (that row and the
// rest stay 0), raw bytes past the end of the file as 255. Asked to salvage,
// the reader also looks for rows after such a row (pic/pic_salvage.h), and
// says in `facts.salvage` what it found and what is lost.
//
// Writing goes through PicRowWriter, the driver's writer too, so the same
// pixels, aspect and 80-byte comment field give the bytes WriteFrame writes.
// The comment is stored as given: the driver's prefix is the driver's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pic/byte_source.h"
#include "pic/pic_header.h"
#include "pic/pic_row_reader.h"
#include "pic/pic_row_writer.h"
#include "pic/pic_salvage.h"

enum class PicImageStatus {
    Ok,         // the header reads; `rows` says how far the rows are whole
    CannotOpen, // the file cannot be opened; `openErrno` says why
    BadHeader,  // no PIC header we read (see ReadPicHeader)
    NoPixels,   // a check (not a decode, which gives the empty picture) of a
                // header that declares a width or height of 0: not whole
    TooLarge,   // width x height beyond the caller's pixel limit; nothing decoded
    NoMemory,   // the pixels or a row buffer could not be allocated
};

struct PicImageFacts {
    PicImageStatus status = PicImageStatus::Ok;
    PicHeaderStatus headerStatus = PicHeaderStatus::Read; // why, for BadHeader
    int openErrno = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    char comment[kPicCommentSize] = {}; // the header's 80 bytes as stored
    float aspect = 0.0f;                // the header's pixel ratio as stored
    std::vector<PicChannelPacket> packets;
    PicRowsCheck rows;     // as read without salvage
    bool salvaged = false; // salvage was asked for and the rows were damaged
    PicSalvage salvage;    // when salvaged: what was lost and found again

    bool Alpha() const; // some packet carries alpha: the pixels are RGBA
    int Channels() const { return Alpha() ? 4 : 3; }
    int Bits() const { return PicChainBits(packets); } // 8, or 16 when some channel is
    bool Whole() const { return status == PicImageStatus::Ok && !rows.damaged; }
    uint64_t Pixels() const { return uint64_t(width) * height; }
};

struct PicImage {
    PicImageFacts facts;
    // height rows of width * Channels() values, top row first, in `pixels`
    // (bits 8) or `pixels16` (bits 16, host order); both null unless the
    // pixels were asked for and the status is Ok.
    int bits = 8;
    std::unique_ptr<uint8_t[]> pixels;
    std::unique_ptr<uint16_t[]> pixels16;
    size_t Values() const
    {
        return size_t(facts.width) * size_t(facts.height) * size_t(facts.Channels());
    }
    size_t PixelBytes() const { return Values() * size_t(bits / 8); }
};

// No limit on the pixels decoded beyond what memory gives.
constexpr uint64_t kPicNoPixelLimit = UINT64_MAX;

enum class PicDepth {
    Eight,  // 8 bits a channel, 16-bit values rounded
    Stored, // 16 bits a channel when some channel is stored so, else 8
};

struct PicReadRequest {
    bool decode = true; // keep the pixels; false only checks the rows
    uint64_t maxPixels = kPicNoPixelLimit;
    PicDepth depth = PicDepth::Eight;
    // After a run-length row that does not decode, look for the rows after
    // it. Reads the rest of a file into memory first.
    bool salvage = false;
};

// Reads the header and every row from `source`, standing at the file's first
// byte. With `decode` false only checks the rows (no pixel buffer); with it
// true also keeps the pixels, provided width x height <= maxPixels. Never
// throws: a failed allocation is NoMemory.
PicImage ReadPicImage(PicByteSource& source, bool decode, uint64_t maxPixels = kPicNoPixelLimit);
PicImage ReadPicImageFile(const char* path, bool decode, uint64_t maxPixels = kPicNoPixelLimit);
PicImage ReadPicImageMemory(const uint8_t* data, size_t size, bool decode,
                            uint64_t maxPixels = kPicNoPixelLimit);
// The header's facts alone (size, comment, aspect, packets, or BadHeader),
// read from `source` standing at the file's first byte; the rows are not
// read. May throw std::bad_alloc.
PicImageFacts ReadPicImageHeader(PicByteSource& source);
// The same as asked in `request`.
PicImage ReadPicImage(PicByteSource& source, const PicReadRequest& request);
PicImage ReadPicImageFile(const char* path, const PicReadRequest& request);
PicImage ReadPicImageMemory(const uint8_t* data, size_t size, const PicReadRequest& request);

// The words `pictool check` uses: "cut short in row 17 of 1080 (offset
// 48213)" for damage, and per status the system's reason in lower case ("no
// such file or directory", "is a directory"), the header's
// (PicHeaderStatusText), "no pixels: 480 x 0", "image is W x H, more pixels
// than the limit", "out of memory" ("" for Ok).
std::string PicDamageText(const PicImageFacts& facts);
std::string PicStatusText(const PicImageFacts& facts);

// The words for what salvage did: "rows 17-20 and 300 lost, 1040 rows found
// again after the damage", "no rows found after the damage", with ", 12
// rows found but not placed" and ", search stopped at its limit" as they
// apply ("" unless salvaged).
std::string PicSalvageText(const PicImageFacts& facts);

// The words for a packet chain: "mixed RGB + mixed A", "raw RGBA16" for a
// 16-bit packet.
std::string PicPacketsText(const std::vector<PicChannelPacket>& packets);

// `pixels`: height rows of width * channels bytes (3 RGB, 4 RGBA), each
// `rowStride` bytes after the one before. RGBA writes the layout with alpha.
PicWriteResult WritePicImage(PicOutput& output, const uint8_t* pixels, uint32_t width,
                             uint32_t height, int channels, size_t rowStride,
                             const PicWriteOptions& options);
// The same through a C stream (buffered; flushed before it returns).
PicWriteResult WritePicImage(FILE* file, const uint8_t* pixels, uint32_t width, uint32_t height,
                             int channels, size_t rowStride, const PicWriteOptions& options);

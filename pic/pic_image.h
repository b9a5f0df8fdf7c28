// Whole PIC images in one call, for programs that want the picture rather
// than a host's storage: `pictool check`, the Python package and the tests.
//
// Reading takes any layout ReadPicHeader accepts, from a named file or from
// bytes in memory, and gives the header's facts, how far the rows are whole
// (the same PicRowsCheck that CheckPicRows gives) and, when asked, the
// pixels as 8-bit interleaved RGB, or RGBA when some packet carries alpha.
// A channel no packet carries reads as 0. The pixels of a damaged file are
// those the driver loads: rows up to a run-length row that fails to decode
// (that row and the rest stay 0), raw bytes past the end of the file as 255.
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
    PicRowsCheck rows;

    bool Alpha() const; // some packet carries alpha: the pixels are RGBA
    int Channels() const { return Alpha() ? 4 : 3; }
    bool Whole() const { return status == PicImageStatus::Ok && !rows.damaged; }
    uint64_t Pixels() const { return uint64_t(width) * height; }
};

struct PicImage {
    PicImageFacts facts;
    // height rows of width * Channels() bytes, top row first; null unless
    // the pixels were asked for and the status is Ok.
    std::unique_ptr<uint8_t[]> pixels;
    size_t PixelBytes() const
    {
        return size_t(facts.width) * size_t(facts.height) * size_t(facts.Channels());
    }
};

// No limit on the pixels decoded beyond what memory gives.
constexpr uint64_t kPicNoPixelLimit = UINT64_MAX;

// Reads the header and every row from `source`, standing at the file's first
// byte. With `decode` false only checks the rows (no pixel buffer); with it
// true also keeps the pixels, provided width x height <= maxPixels. Never
// throws: a failed allocation is NoMemory.
PicImage ReadPicImage(PicByteSource& source, bool decode, uint64_t maxPixels = kPicNoPixelLimit);
PicImage ReadPicImageFile(const char* path, bool decode, uint64_t maxPixels = kPicNoPixelLimit);
PicImage ReadPicImageMemory(const uint8_t* data, size_t size, bool decode,
                            uint64_t maxPixels = kPicNoPixelLimit);

// The words `pictool check` uses: "cut short in row 17 of 1080 (offset
// 48213)" for damage, and per status the system's reason in lower case ("no
// such file or directory", "is a directory"), the header's
// (PicHeaderStatusText), "no pixels: 480 x 0", "image is W x H, more pixels
// than the limit", "out of memory" ("" for Ok).
std::string PicDamageText(const PicImageFacts& facts);
std::string PicStatusText(const PicImageFacts& facts);

// The words for a packet chain: "mixed RGB + mixed A".
std::string PicPacketsText(const std::vector<PicChannelPacket>& packets);

// `pixels`: height rows of width * channels bytes (3 RGB, 4 RGBA), each
// `rowStride` bytes after the one before. RGBA writes the layout with alpha.
PicWriteResult WritePicImage(PicOutput& output, const uint8_t* pixels, uint32_t width,
                             uint32_t height, int channels, size_t rowStride,
                             const PicWriteOptions& options);
// The same through a C stream (buffered; flushed before it returns).
PicWriteResult WritePicImage(FILE* file, const uint8_t* pixels, uint32_t width, uint32_t height,
                             int channels, size_t rowStride, const PicWriteOptions& options);

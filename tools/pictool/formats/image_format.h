// What pictool knows of an image format, as one entry of the format table
// (formats/format_table.h): its name, its extensions, a test of its first
// bytes, and a reader and a writer that move the image row by row.
//
// Rows travel as host pixels: four 16-bit channels per pixel, red, green,
// blue, alpha, the values the host keeps in a BitmapStorage. PIC holds 8
// bits a channel, so a reader brings every sample to 8 bits (rounded) and
// keeps it as value << 8, as the driver itself widens what it loads, and a
// writer takes the high byte.
//
// A reader: Start reads the header and checks the declared size against the
// limits before anything is sized from it; Row gives the next row, top to
// bottom; Finish reads what follows the rows. A writer: Start opens the
// output, Row writes one row, Finish completes it; a writer destroyed
// without Finish leaves no file (an earlier file of that name stays).
// A format never calls back into the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/bitmap_storage.h"
#include "pic/pic_header.h"

class ImageInput;

// Bounds on an image read from a file, checked before anything is sized
// from it: PIC rows are coded with signed 16-bit widths, and the host's
// storage holds at most 2^28 pixels (the default for --max-pixels).
constexpr uint32_t kMaxImageSide = uint32_t(kPicMaxSide);
constexpr uint64_t kMaxImagePixels = kMaxStoragePixels;

// Alpha given to every pixel of a file that has none, so that a PIC file
// written with alpha stores 255 (opaque).
constexpr uint16_t kOpaqueAlpha = 0xFF00;

// An image's size and what travels with its pixels.
struct ImageHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasAlpha = false;
    // The pixel aspect ratio (a pixel's width over its height) and a comment,
    // where the file holds them.
    bool haveAspect = false;
    float aspect = 1.0f;
    bool haveComment = false;
    std::string comment;
};

// How output samples are written:
//   Eight      the file's own 8-bit values
//   Sixteen    those values times 257 (255 -> 65535)
//   HostPixels the host's 16-bit channels as stored (PAM only)
enum class SampleDepth { Eight, Sixteen, HostPixels };

struct WriteSettings {
    SampleDepth depth = SampleDepth::Eight;
    int quality = 90; // JPEG, 1 to 100
};

class RowSource {
public:
    virtual ~RowSource() = default;
    // Fills `header`; false with a one-line message (without the file name).
    virtual bool Start(ImageHeader& header, std::string& error) = 0;
    // The next row: 4 * width channels.
    virtual bool Row(uint16_t* channels, std::string& error) = 0;
    // After the last row; may add to the header's comment and aspect.
    virtual bool Finish(ImageHeader&, std::string&) { return true; }
};

class RowSink {
public:
    virtual ~RowSink() = default;
    virtual bool Start(const ImageHeader& header, std::string& error) = 0;
    virtual bool Row(const uint16_t* channels, std::string& error) = 0;
    virtual bool Finish(std::string& error) = 0;
};

// The first bytes of an input, as many as a sniff may look at.
constexpr size_t kSniffBytes = 16;

struct ImageFormat {
    const char* name;       // "TIFF", for messages
    const char* extensions; // lower case, blank-separated; the first is --to's word
    // True when an input's first bytes (up to kSniffBytes) are this format's.
    bool (*sniff)(const uint8_t* head, size_t count);
    // Null where this build cannot read or write the format. PIC has
    // neither: the plug-in's drivers read and write it.
    std::unique_ptr<RowSource> (*newReader)(ImageInput& input, uint64_t maxPixels);
    std::unique_ptr<RowSink> (*newWriter)(const std::string& path, const WriteSettings& settings);
    bool sixteenBitOutput; // --depth 16 applies
    bool namedFilesOnly;   // reader and writer seek: standard input and output are staged
    const char* reads;     // for the help: what is read, and how
    const char* writes;    // likewise written
};

// Checks a size an input declares against the bounds, before anything is
// allocated for it; false with a message naming what was refused.
bool CheckImageSize(uint64_t width, uint64_t height, uint64_t maxPixels, std::string& error);
// "declares W x H (N pixels), more than --max-pixels M", or "... more than
// the host's storage holds (2^28 pixels)" for a limit at or past the host's.
std::string PixelLimitText(uint64_t width, uint64_t height, uint64_t maxPixels);
// "PIC holds (32767 pixels a side)"
std::string SideLimitText();

// The 8-bit sample nearest `value` on a scale of 0 to `maxValue` (>= 1).
inline uint8_t ScaleTo8(uint32_t value, uint32_t maxValue)
{
    if (value >= maxValue)
        return 255;
    return uint8_t((value * 255u + maxValue / 2) / maxValue);
}

// A float sample as PIC keeps it: clamped to [0, 1], times 255, rounded; NaN
// is 0. No transfer function is applied either way.
inline uint8_t FloatTo8(float value)
{
    if (!(value > 0.0f))
        return 0;
    if (value >= 1.0f)
        return 255;
    return uint8_t(value * 255.0f + 0.5f);
}

// A host channel's 8-bit value.
inline uint8_t High8(uint16_t channel)
{
    return uint8_t(channel >> 8);
}

// The aspect ratio a pair of densities gives (pixels per unit across and
// down): a pixel is 1/across wide and 1/down high. False when either is 0.
bool AspectFromDensity(double across, double down, float& aspect);
// Whole densities across and down, each at most `most`, whose ratio gives
// `aspect` back exactly where such a pair exists (else the nearest found).
void DensityFromAspect(float aspect, uint32_t most, uint32_t& across, uint32_t& down);

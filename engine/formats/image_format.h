// What pictool knows of an image format, as one entry of the format table
// (formats/format_table.h): its name, its extensions, a test of its first
// bytes, and a reader and a writer that move the image row by row.
//
// Rows travel as host pixels: four 16-bit channels per pixel, red, green,
// blue, alpha, the values the host keeps in a BitmapStorage. PIC files are
// written 8 bits a channel, so a reader brings every sample to 8 bits
// (rounded) and keeps it as value << 8, as the driver itself widens what it
// loads from an 8-bit file, and a writer takes the high byte. The rows of a
// 16-bit PIC file hold 16-bit values instead (ImageHeader::sixteenBit),
// which a writer keeps at 16 bits and rounds to 8 (Sample8, Sample16).
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
#include <vector>

#include "host/bitmap_storage.h"
#include "pic/pic_header.h"

class ImageInput;

// Bounds on an image read from a file, checked before anything is sized
// from it: PIC rows are coded with signed 16-bit widths, and the host's
// storage holds at most 2^28 pixels (the default for --max-pixels).
constexpr uint32_t kMaxImageSide = uint32_t(kPicMaxSide);
constexpr uint64_t kMaxImagePixels = kMaxStoragePixels;

// Bounds on what one piece of a file costs once decoded, checked before it
// is decoded (--max-block-mib): an EXR block or tile with all its channels,
// a TIFF strip or tile. Real pictures keep far below; a small file that
// declares blocks of a few GiB is refused before the work.
constexpr uint64_t kDefaultMaxBlockMib = 256;
// The scans a JPEG may have (--max-scans), as libjpeg-turbo's -maxscans
// bounds them: real progressive files have about 10, and each scan costs a
// pass over the whole image.
constexpr uint32_t kDefaultMaxScans = 100;

// What a reader is asked for, and the bounds on what it may cost.
struct ReadSettings {
    uint64_t maxPixels = kMaxImagePixels;
    uint64_t maxBlockMib = kDefaultMaxBlockMib;
    uint32_t maxScans = kDefaultMaxScans;
    // Formats with parts and layers (EXR): the part (its number from 0, or
    // its name) and the channels (a layer's name, or 1 to 4 channel names
    // separated by commas) to read; empty for the reader's rule.
    std::string part;
    std::string channels;
};

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
    // The rows hold 16-bit values (0 to 65535), not 8-bit values << 8: a
    // 16-bit PIC file's picture, on its way to a writer.
    bool sixteenBit = false;
    // What the reader left behind (other parts or layers), one line each,
    // for warnings.
    std::vector<std::string> notes;
};

// How output samples are written:
//   Eight      the file's own 8-bit values (16-bit values rounded)
//   Sixteen    those values times 257 (255 -> 65535); 16-bit values as they are
//   HostPixels the host's 16-bit channels as stored (PAM only)
enum class SampleDepth { Eight, Sixteen, HostPixels };

struct WriteSettings {
    SampleDepth depth = SampleDepth::Eight;
    int quality = 90;           // JPEG, 1 to 100
    bool straightAlpha = false; // colour was divided by alpha (--unpremult)
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
    std::unique_ptr<RowSource> (*newReader)(ImageInput& input, const ReadSettings& settings);
    std::unique_ptr<RowSink> (*newWriter)(const std::string& path, const WriteSettings& settings);
    bool sixteenBitOutput; // --depth applies: 8 or 16 bits
    bool namedFilesOnly;   // reader and writer seek: standard input and output are staged
    bool keepsMetadata;    // its files hold the aspect ratio and a comment
    bool layered;          // its files have parts and layers: --part and --ch apply
    bool takesQuality;     // its writer takes a quality (--quality)
    bool hostPixels;       // its writer writes the host's 16-bit channels as stored
    const char* reads;     // for the help: what is read, and how
    const char* writes;    // likewise written
};

// Checks a size an input declares against the bounds, before anything is
// allocated for it; false with a message naming what was refused.
bool CheckImageSize(uint64_t width, uint64_t height, uint64_t maxPixels, std::string& error);
// "declares W x H (N pixels), more than --max-pixels M", or "... more than
// the host's storage holds (2^28 pixels)" for a limit at or past the host's.
std::string PixelLimitText(uint64_t width, uint64_t height, uint64_t maxPixels);
// Every bound's words: "`what`, more than `option` `limit`", such as
// "declares tiles of 600 MiB decoded, more than --max-block-mib 256".
std::string LimitText(const std::string& what, const char* option, uint64_t limit);
// Checks the bytes one block, strip or tile takes decoded against
// --max-block-mib; `what` names the piece ("tiles of 512 x 512 with 600
// channels").
bool CheckBlockBytes(uint64_t bytes, const std::string& what, const ReadSettings& settings,
                     std::string& error);
// "PIC holds (32767 pixels a side)"
std::string SideLimitText();

// The 8-bit sample nearest `value` on a scale of 0 to `maxValue` (>= 1).
inline uint8_t ScaleTo8(uint64_t value, uint64_t maxValue)
{
    if (value >= maxValue)
        return 255;
    return uint8_t((value * 255u + maxValue / 2) / maxValue);
}

// A signed sample as OpenImageIO normalises it: negatives are 0, and 0 to
// `maxValue` (the type's largest) scale as unsigned samples do.
inline uint8_t SignedTo8(int64_t value, int64_t maxValue)
{
    return value <= 0 ? 0 : ScaleTo8(uint64_t(value), uint64_t(maxValue));
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

// A row's channel as an 8-bit sample: a 16-bit value (`sixteenBit` rows)
// rounded, round(v * 255 / 65535), else the high byte.
inline uint8_t Sample8(uint16_t channel, bool sixteenBit)
{
    return sixteenBit ? RoundTo8Bits(channel) : High8(channel);
}

// A row's channel as a 16-bit sample: a 16-bit value as it is, else the
// 8-bit value times 257.
inline uint16_t Sample16(uint16_t channel, bool sixteenBit)
{
    return sixteenBit ? channel : uint16_t(High8(channel) * 257);
}

// An aspect ratio is known when it is a finite number above 0; anything
// else a header holds (0, NaN, infinities, negatives) is unknown and is not
// written as a density or an attribute.
inline bool AspectIsKnown(float aspect)
{
    return aspect > 0.0f && aspect <= 3.4028235e38f;
}
// True when `header` has an aspect worth writing: known, and not 1 (square
// pixels, what a file without one means).
inline bool AspectToWrite(const ImageHeader& header)
{
    return header.haveAspect && AspectIsKnown(header.aspect) && header.aspect != 1.0f;
}

// The aspect ratio a pair of densities gives (pixels per unit across and
// down): a pixel is 1/across wide and 1/down high. False when either is 0.
bool AspectFromDensity(double across, double down, float& aspect);
// Whole densities across and down, each at most `most`, whose ratio gives
// `aspect` back exactly where such a pair exists (else the nearest found).
void DensityFromAspect(float aspect, uint32_t most, uint32_t& across, uint32_t& down);

// Images as pictool moves them between image files and the host's storage:
// four 16-bit channels per pixel, red, green, blue, alpha, row after row, the
// same values the host keeps in a BitmapStorage. PIC holds 8 bits a channel,
// so every input is brought to 8 bits (rounded) and kept as value << 8, as
// the driver itself widens what it loads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "output/atomic_output.h"

// Bounds on an image read from a file, checked before anything is sized
// from it: PIC rows are coded with signed 16-bit widths, and the host's
// storage holds at most 2^28 pixels (the default for --max-pixels).
constexpr uint32_t kMaxImageSide = 32767;
constexpr uint64_t kMaxImagePixels = uint64_t(1) << 28;

// Alpha given to every pixel of a file that has none, so that a PIC file
// written with alpha stores 255 (opaque).
constexpr uint16_t kOpaqueAlpha = 0xFF00;

struct HostImage {
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasAlpha = false;          // the file had an alpha channel
    std::vector<uint16_t> channels; // 4 * width * height: r, g, b, a
};

enum class ImageFormat { Unknown, Png, Pam, Pnm, Jpeg, Pic };

// How output samples are written:
//   Eight      the file's own 8-bit values
//   Sixteen    those values times 257 (255 -> 65535)
//   HostPixels the host's 16-bit channels as stored (PAM only)
enum class SampleDepth { Eight, Sixteen, HostPixels };

// The bytes of one input, a file or standard input ("-"), with its first
// bytes read ahead so that its format is told by its content. Read goes on
// from the start, through the bytes read ahead.
class ImageInput {
public:
    ImageInput() = default;
    ~ImageInput();
    ImageInput(const ImageInput&) = delete;
    ImageInput& operator=(const ImageInput&) = delete;

    // False with a message ("no such file", "is a directory") when `path`
    // cannot be read.
    bool Open(const std::string& path, std::string& error);
    const std::string& Path() const { return path; }
    ImageFormat Format() const { return format; }
    // The whole input's size in bytes for a regular file; 0 when unknown (a pipe).
    uint64_t Size() const { return size; }
    // Up to `count` bytes; fewer only at the end or on a read error.
    size_t Read(void* bytes, size_t count);
    // One byte, or -1 at the end.
    int ReadByte();
    // True once a read failed for a reason other than the end.
    bool Failed() const;

private:
    std::string path;
    FILE* file = nullptr;
    bool ownsFile = false;
    uint8_t head[16] = {};
    size_t headSize = 0;
    size_t headUsed = 0;
    uint64_t size = 0;
    ImageFormat format = ImageFormat::Unknown;
};

// The format a name's extension (case ignored) asks for.
ImageFormat FormatFromExtension(const std::string& path);
// "PNG", "PAM", ... for messages.
const char* FormatName(ImageFormat format);

// Checks a size an input declares against the bounds, before anything is
// allocated for it; false with a message naming what was refused.
bool CheckImageSize(uint64_t width, uint64_t height, uint64_t maxPixels, std::string& error);

// Sets the image up for width x height pixels, which CheckImageSize has
// accepted, and reserves a bounded first share of its memory: rows are added
// as they are decoded, so a file that lies about its size costs no more than
// the rows it holds.
void BeginRows(HostImage& image, uint32_t width, uint32_t height);
// Room for the next row, 4 * width channels, appended to the image.
uint16_t* AppendRow(HostImage& image);

// The 8-bit sample nearest `value` on a scale of 0 to `maxValue` (>= 1).
inline uint8_t ScaleTo8(uint32_t value, uint32_t maxValue)
{
    if (value >= maxValue)
        return 255;
    return uint8_t((value * 255u + maxValue / 2) / maxValue);
}

// Reads any image format pictool takes; false with a one-line message
// (without the file name) when it cannot be read. `maxPixels` bounds the
// declared size.
bool ReadImage(ImageInput& input, uint64_t maxPixels, HostImage& image, std::string& error);

// Opens `path` ("-" is standard input) and reads it with ReadImage.
bool ReadImageFile(const std::string& path, uint64_t maxPixels, HostImage& image,
                   std::string& error);

// Writes `image` as PNG or PAM to `path` ("-" is standard output). False
// with a message when it cannot be written.
bool WriteImageFile(const std::string& path, ImageFormat format, SampleDepth depth,
                    const HostImage& image, std::string& error);

// The one place image writers open and close their output. A file is
// written beside its target and moved over it only when whole (an earlier
// file of that name stays as it was when the write fails); "-" is standard
// output.
class ImageOutput {
public:
    ImageOutput() = default;
    ImageOutput(const ImageOutput&) = delete;
    ImageOutput& operator=(const ImageOutput&) = delete;

    // Null with a message when `path` cannot be written.
    FILE* Open(const std::string& path, std::string& error);
    // Finishes the output; false with a message (kept when the writer gave
    // one) when anything written did not reach it.
    bool Close(bool written, std::string& error);

private:
    AtomicOutput file;
    FILE* stream = nullptr;
    bool toStdout = false;
};

// A PIC file on its way between a driver, which works on named files, and
// standard input or output: a file of its own in the system's temporary
// folder, removed when the object goes.
class StagingFile {
public:
    StagingFile();
    ~StagingFile();
    StagingFile(const StagingFile&) = delete;
    StagingFile& operator=(const StagingFile&) = delete;

    const std::string& Path() const { return path; }
    // Copies the rest of `input` (from its start) into the file.
    bool Fill(ImageInput& input, std::string& error);
    // Copies the file to standard output.
    bool CopyToStdout(std::string& error) const;

private:
    std::string path;
    std::unique_ptr<InterruptRemoval> removal; // the file goes on Ctrl-C too
};

// The system's text for an error number, starting lower case
// ("no space left on device").
std::string SystemErrorText(int number);

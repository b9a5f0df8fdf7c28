// Images as pictool moves them between PNG or PAM files and the host's
// storage: four 16-bit channels per pixel, red, green, blue, alpha, row after
// row, the same values the host keeps in a BitmapStorage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Bounds on an image read from a file, checked before anything is sized
// from it: PIC rows are coded with signed 16-bit widths, and the host's
// storage holds at most 2^28 pixels.
constexpr uint32_t kMaxImageSide = 32767;
constexpr uint64_t kMaxImagePixels = uint64_t(1) << 28;

// Alpha given to every pixel of a file that has none, so that the PIC file
// written with alpha stores 255 (opaque): the 8-bit value 255 widened by <<8.
constexpr uint16_t kOpaqueAlpha = 0xFF00;

struct HostImage {
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasAlpha = false;          // the file had an alpha channel
    std::vector<uint16_t> channels; // 4 * width * height: r, g, b, a
};

enum class ImageFormat { Unknown, Png, Pam, Pic };

// The format a file's first bytes announce; Unknown for anything else, a
// short file or one that cannot be opened.
ImageFormat SniffImageFormat(const std::string& path);
// The format a name's extension (case ignored) asks for.
ImageFormat FormatFromExtension(const std::string& path);

// Sizes `image` for width x height pixels, all channels zero. Answers false
// with a message for sizes beyond the bounds above; may throw bad_alloc.
bool SizeHostImage(HostImage& image, uint32_t width, uint32_t height, std::string& error);

// Reads a PNG or PAM file (told apart by its first bytes). False with a
// one-line message (without the file name) when it cannot be read.
bool ReadImageFile(const std::string& path, HostImage& image, std::string& error);

// Writes `image` as PNG (8 or 16 bits per channel) or PAM (always the four
// channels at 16 bits). False with a message when the file cannot be written.
bool WriteImageFile(const std::string& path, ImageFormat format, int pngDepth,
                    const HostImage& image, std::string& error);

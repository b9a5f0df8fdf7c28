// A whole image in memory, read or written through the format table's
// readers and writers: for the tests, the fuzz target and the sample's
// maker. `convert` streams rows instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/formats/image_format.h"

struct HostImage {
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasAlpha = false;          // the file had an alpha channel
    std::vector<uint16_t> channels; // 4 * width * height: r, g, b, a
    ImageHeader header;             // as the reader gave it, metadata included
};

// Opens `path` ("-" is standard input), tells its format by its content and
// reads it; false with a one-line message (without the file name). The
// rows are kept as they decode, after a bounded first reservation, so a
// file that lies about its size costs no more than the rows it holds.
bool ReadImageFile(const std::string& path, const ReadSettings& settings, HostImage& image,
                   std::string& error);
// The same with the default settings but for --max-pixels.
bool ReadImageFile(const std::string& path, uint64_t maxPixels, HostImage& image,
                   std::string& error);

// Writes `image` in `format` (one with a writer) to `path` ("-" is standard output).
bool WriteImageFile(const std::string& path, const ImageFormat& format,
                    const WriteSettings& settings, const HostImage& image, std::string& error);

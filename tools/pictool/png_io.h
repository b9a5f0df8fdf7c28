// PNG files through libpng. Built only where libpng is found (PICTOOL_HAVE_PNG).
#pragma once

#include <string>

#include "tools/pictool/image_io.h"

// Any PNG libpng reads: palette and grey images are expanded to RGB, a tRNS
// chunk becomes alpha, samples below 8 bits are scaled to 8. 8-bit samples v
// become v << 8, 16-bit samples are kept; no gamma is applied. Without alpha
// every pixel gets kOpaqueAlpha.
bool ReadPngFile(const std::string& path, HostImage& image, std::string& error);

// `depth` 8 writes the high byte of each channel, 16 the channels unchanged;
// RGBA when image.hasAlpha, else RGB.
bool WritePngFile(const std::string& path, const HostImage& image, int depth, std::string& error);

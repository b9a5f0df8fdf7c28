// PNG files through libpng. Built only where libpng is found (PICTOOL_HAVE_PNG).
#pragma once

#include <string>

#include "tools/pictool/image_io.h"

// Any PNG: every colour type and bit depth, interlaced or not. Palette and
// grey images become RGB, a tRNS chunk becomes alpha, 16-bit samples are
// rounded to 8 bits and samples below 8 bits scaled up; no gamma is applied.
bool ReadPng(ImageInput& input, uint64_t maxPixels, HostImage& image, std::string& error);

// RGBA when image.hasAlpha, else RGB; 8 or 16 bits a sample (Sixteen: the
// 8-bit value times 257).
bool WritePng(const std::string& path, const HostImage& image, SampleDepth depth,
              std::string& error);

// JPEG files through libjpeg(-turbo). Built only where it is found
// (PICTOOL_HAVE_JPEG): natively, not for Windows.
#pragma once

#include <string>

#include "tools/pictool/image_io.h"

// Grey and colour JPEGs (baseline or progressive) as RGB without alpha.
bool ReadJpeg(ImageInput& input, uint64_t maxPixels, HostImage& image, std::string& error);

// Netpbm files, the uncompressed formats that need no library.
//
//   PAM:  P7\n WIDTH w\n HEIGHT h\n DEPTH d\n MAXVAL m\n TUPLTYPE t\n ENDHDR\n
//   PGM, PPM (binary): P5 or P6, then width, height and maxval as decimal
//         numbers between blanks and '#' comments, then one blank
//   then w * h tuples of d samples (PGM 1, PPM 3), 1 byte each when m < 256,
//   else 2 bytes big-endian, row after row.
//
// PAM tuple types read: GRAYSCALE, GRAYSCALE_ALPHA, RGB, RGB_ALPHA (or, with
// no TUPLTYPE line, DEPTH 1 to 4 in that order). Any MAXVAL from 1 to 65535
// is scaled to 8 bits with rounding.
#pragma once

#include <string>

#include "tools/pictool/image_io.h"

bool ReadNetpbm(ImageInput& input, uint64_t maxPixels, HostImage& image, std::string& error);

// PAM with DEPTH 3 (RGB) or 4 (RGB_ALPHA) as the image has alpha: MAXVAL 255
// for SampleDepth::Eight, 65535 for Sixteen. HostPixels writes DEPTH 4,
// MAXVAL 65535, TUPLTYPE RGB_ALPHA, the host's channels exactly as stored.
bool WritePam(const std::string& path, const HostImage& image, SampleDepth depth,
              std::string& error);

// Netpbm PAM files (P7), the uncompressed format that needs no library.
//
//   P7\n
//   WIDTH w\n HEIGHT h\n DEPTH d\n MAXVAL m\n TUPLTYPE t\n
//   ENDHDR\n
//   w * h tuples of d samples, 1 byte each when m < 256, else 2 bytes
//   big-endian, row after row
//
// We write DEPTH 4, MAXVAL 65535, TUPLTYPE RGB_ALPHA: the host channels as
// they are. We read DEPTH 1 to 4 (grey, grey + alpha, RGB, RGB + alpha, told
// by DEPTH; TUPLTYPE is not needed) with MAXVAL 255 or 65535.
#pragma once

#include <string>

#include "tools/pictool/image_io.h"

// MAXVAL 255 samples v become v << 8, MAXVAL 65535 samples are kept; without
// alpha every pixel gets kOpaqueAlpha.
bool ReadPamFile(const std::string& path, HostImage& image, std::string& error);

bool WritePamFile(const std::string& path, const HostImage& image, std::string& error);

// TIFF files through libtiff: the reader is tiff_reader.cpp, the writer
// and the format's entry are tiff_format.cpp. libtiff reports through
// process-wide handlers; each thread keeps the last error of its own reads
// and writes.
#pragma once

#include <memory>
#include <string>

#include "engine/formats/image_format.h"

std::unique_ptr<RowSource> NewTiffReader(ImageInput& input, const ReadSettings& settings);

// Sets libtiff's handlers (once) and forgets this thread's last error.
void QuietLibtiff();
// `what`, with libtiff's last error of this thread in brackets.
std::string TiffError(const char* what);

// The EXR reader (exr_reader.cpp), made by the format's entry in
// exr_format.cpp.
#pragma once

#include <memory>

#include "engine/formats/image_format.h"

std::unique_ptr<RowSource> NewExrReader(ImageInput& input, const ReadSettings& settings);

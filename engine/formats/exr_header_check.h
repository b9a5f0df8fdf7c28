// The header of an EXR file, checked before OpenEXR reads it (see
// exr_header_check.cpp for why).
#pragma once

#include <string>

class ImageInput;

// Reads `input` from its start through the last header; false with a
// message when an attribute's size passes the end of the file or
// disagrees with the value's own counts.
bool CheckExrHeader(ImageInput& input, std::string& error);

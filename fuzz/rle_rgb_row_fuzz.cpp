// Fuzzes DecodeRgbRow (see rle_row_fuzz.h for the input and the checks).
#include "fuzz/rle_row_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzz::FuzzRows(data, size, 3, [](PicByteSource& source, uint8_t** arrays, int width) {
        return DecodeRgbRow(source, arrays[0], arrays[1], arrays[2], width);
    });
}

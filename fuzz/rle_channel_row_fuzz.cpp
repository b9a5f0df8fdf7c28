// Fuzzes DecodeChannelRow (see rle_row_fuzz.h for the input and the checks).
#include "fuzz/rle_row_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzz::FuzzRows(data, size, 1, [](PicByteSource& source, uint8_t** arrays, int width) {
        return DecodeChannelRow(source, arrays[0], width);
    });
}

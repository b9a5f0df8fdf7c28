// Fuzzes DecodeMixedRow and DecodePureRow for pixels of 1 to 4 bytes. The
// first byte picks the form (bit 2: pure) and the pixel size (low two bits +
// 1); the rest is as rle_row_fuzz.h describes.
#include "fuzz/rle_row_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int pixelBytes = 1 + (data[0] & 3);
    const bool pure = (data[0] & 4) != 0;
    return fuzz::FuzzRows(
        data + 1, size - 1, pixelBytes, [&](PicByteSource& source, uint8_t** arrays, int width) {
            const PicRowStatus status = pure ? DecodePureRow(source, arrays, pixelBytes, width)
                                             : DecodeMixedRow(source, arrays, pixelBytes, width);
            return status == PicRowStatus::Whole ? 1 : 0;
        });
}

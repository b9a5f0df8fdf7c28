// Fuzzes the row decoders: DecodeMixedRow and DecodePureRow for pixels of 1
// to 4 channels of 8 or 16 bits, and the driver's two entry points
// DecodeRgbRow and DecodeChannelRow. The first byte picks the decoder: low
// two bits + 1 the channels, bit 4 two bytes a channel, bit 2 the pure form,
// bit 3 (mixed rows of 3 or 1 bytes only) the entry point the loader calls.
// The rest is as rle_row_fuzz.h describes.
#include "fuzz/rle_row_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int pixelBytes = (1 + (data[0] & 3)) * ((data[0] & 16) != 0 ? 2 : 1);
    const bool pure = (data[0] & 4) != 0;
    const bool entryPoint = !pure && (data[0] & 8) != 0 && (pixelBytes == 3 || pixelBytes == 1);
    return fuzz::FuzzRows(
        data + 1, size - 1, pixelBytes, [&](PicByteSource& source, uint8_t** arrays, int width) {
            if (entryPoint)
                return pixelBytes == 3
                           ? DecodeRgbRow(source, arrays[0], arrays[1], arrays[2], width)
                           : DecodeChannelRow(source, arrays[0], width);
            const PicRowStatus status = pure ? DecodePureRow(source, arrays, pixelBytes, width)
                                             : DecodeMixedRow(source, arrays, pixelBytes, width);
            return status == PicRowStatus::Whole ? 1 : 0;
        });
}

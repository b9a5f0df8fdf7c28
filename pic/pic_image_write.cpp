#include <cstring>
#include <new>

#include "pic/byte_sink.h"
#include "pic/pic_image.h"

namespace {

// Splits one row of `channels`-byte pixels into the arrays the writer asks
// for; its interleaved colour too unless `rgbInPlace` (an RGB row is that
// already).
void SplitRow(const uint8_t* row, size_t width, int channels, bool rgbInPlace,
              const PicRowArrays& arrays)
{
    const size_t step = size_t(channels);
    if (arrays.red != nullptr) {
        for (size_t x = 0; x < width; ++x) {
            arrays.red[x] = row[x * step];
            arrays.green[x] = row[x * step + 1];
            arrays.blue[x] = row[x * step + 2];
        }
    }
    if (arrays.alpha != nullptr) {
        for (size_t x = 0; x < width; ++x)
            arrays.alpha[x] = row[x * step + 3];
    }
    if (arrays.rgb != nullptr && !rgbInPlace) {
        for (size_t x = 0; x < width; ++x)
            std::memcpy(arrays.rgb + 3 * x, row + x * step, 3);
    }
}

} // namespace

PicWriteResult WritePicImage(PicOutput& output, const uint8_t* pixels, uint32_t width,
                             uint32_t height, int channels, size_t rowStride,
                             const PicWriteOptions& options)
{
    if (channels != 3 && channels != 4)
        return PicWriteResult::TooLarge;
    PicRowWriter writer(output);
    const PicWriteResult started = writer.Start(width, height, channels == 4, options);
    if (started != PicWriteResult::Written)
        return started;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels + size_t(y) * rowStride;
        const uint8_t* rgb = channels == 3 ? row : nullptr;
        SplitRow(row, width, channels, rgb != nullptr, writer.Row());
        const PicWriteResult written = writer.WriteRow(rgb);
        if (written != PicWriteResult::Written)
            return written;
    }
    return PicWriteResult::Written;
}

PicWriteResult WritePicImage(FILE* file, const uint8_t* pixels, uint32_t width, uint32_t height,
                             int channels, size_t rowStride, const PicWriteOptions& options)
{
    try {
        PicByteSink sink(file);
        const PicWriteResult result =
            WritePicImage(sink, pixels, width, height, channels, rowStride, options);
        const bool flushed = sink.Flush() == 1;
        if (result != PicWriteResult::Written)
            return result;
        return flushed ? PicWriteResult::Written : PicWriteResult::WriteFailed;
    } catch (const std::bad_alloc&) {
        return PicWriteResult::NoMemory;
    }
}

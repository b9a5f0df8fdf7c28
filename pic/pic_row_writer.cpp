#include "pic/pic_row_writer.h"

#include <new>

#include "pic/rle_codec.h"

// The row buffer, per pixel of the width:
//   raw          rgb (3 bytes), alpha (1): one row of the file as it is stored
//   compressed   red, green, blue, alpha (1 byte each), rgb (3), then the
//                encoded row, at most 6 bytes a pixel (rle_codec.h)
PicWriteResult PicRowWriter::Start(uint32_t rowWidth, uint32_t height, bool withAlpha,
                                   const PicWriteOptions& options)
{
    if (rowWidth > uint32_t(kPicMaxSide) || height > uint32_t(kPicMaxSide))
        return PicWriteResult::TooLarge;
    width = int(rowWidth);
    alpha = withAlpha;
    compressed = options.compressed;
    const size_t pixels = rowWidth;
    const size_t bytes = compressed
                             ? 7 * pixels + MaxEncodedRgbRow(width) + MaxEncodedChannelRow(width)
                             : 4 * pixels;
    buffer.reset(new (std::nothrow) uint8_t[bytes + 1]);
    if (buffer == nullptr)
        return PicWriteResult::NoMemory;
    uint8_t* const start = buffer.get();
    arrays = PicRowArrays();
    if (compressed) {
        arrays.red = start;
        arrays.green = start + pixels;
        arrays.blue = start + 2 * pixels;
        arrays.alpha = alpha ? start + 3 * pixels : nullptr;
        arrays.rgb = start + 4 * pixels; // until a row is mostly runs
        encoded = start + 7 * pixels;
    } else {
        arrays.rgb = start;
        arrays.alpha = alpha ? start + 3 * pixels : nullptr;
    }
    uint8_t header[kPicWrittenHeaderMax];
    const size_t headerBytes = ComposePicHeader(header, rowWidth, height, alpha, options);
    return output.Put(header, headerBytes) ? PicWriteResult::Written : PicWriteResult::WriteFailed;
}

PicWriteResult PicRowWriter::WriteRow(const uint8_t* rgb)
{
    const size_t pixels = size_t(width);
    bool put;
    if (!compressed) {
        // Our own row already lies in the buffer as the file stores it.
        if (rgb == nullptr)
            put = output.Put(arrays.rgb, size_t(alpha ? 4 : 3) * pixels);
        else
            put = output.Put(rgb, 3 * pixels) && (!alpha || output.Put(arrays.alpha, pixels));
    } else {
        const uint8_t* literals = rgb != nullptr ? rgb : arrays.rgb;
        ptrdiff_t size =
            EncodeRgbRow(encoded, arrays.red, arrays.green, arrays.blue, literals, width);
        // Copying literals needs the interleaved row, a pass that only a
        // row of mostly literals (over two bytes a pixel) repays; the next
        // row is likely to be like this one.
        const bool literal = size > 2 * ptrdiff_t(width);
        arrays.rgb = literal ? buffer.get() + 4 * pixels : nullptr;
        if (alpha)
            size += EncodeChannelRow(encoded + size, arrays.alpha, width);
        put = output.Put(encoded, size_t(size));
    }
    return put ? PicWriteResult::Written : PicWriteResult::WriteFailed;
}

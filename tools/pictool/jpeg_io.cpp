#include "tools/pictool/jpeg_io.h"

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

// libjpeg reports errors by calling error_exit, which jumps back to the
// setjmp in the function that made the call; like the PNG reader, those
// functions hold nothing with a destructor.

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf back;
    char message[JMSG_LENGTH_MAX] = "";
};

void OnJpegError(j_common_ptr info)
{
    auto* error = reinterpret_cast<JpegError*>(info->err);
    info->err->format_message(info, error->message);
    longjmp(error->back, 1);
}

void OnJpegMessage(j_common_ptr, int) {}

// Feeds libjpeg from an ImageInput, 64 KiB at a time.
struct JpegSource {
    jpeg_source_mgr manager;
    ImageInput* input;
    bool cutShort;
    JOCTET buffer[65536];
};

constexpr JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr info)
{
    auto* source = reinterpret_cast<JpegSource*>(info->src);
    const size_t got = source->input->Read(source->buffer, sizeof source->buffer);
    if (got == 0) {
        // Cut short: end the image here, as libjpeg's own readers do, and say so.
        source->cutShort = true;
        source->manager.next_input_byte = kEndOfImage;
        source->manager.bytes_in_buffer = 2;
        return TRUE;
    }
    source->manager.next_input_byte = source->buffer;
    source->manager.bytes_in_buffer = got;
    return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count)
{
    auto* source = reinterpret_cast<JpegSource*>(info->src);
    while (count > long(source->manager.bytes_in_buffer)) {
        count -= long(source->manager.bytes_in_buffer);
        FillInputBuffer(info);
    }
    if (count > 0) {
        source->manager.next_input_byte += count;
        source->manager.bytes_in_buffer -= size_t(count);
    }
}

// 0 when the header was read, 1 when it failed.
int ReadJpegHeader(jpeg_decompress_struct& info, JpegError& error)
{
    if (setjmp(error.back))
        return 1;
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    return 0;
}

int ReadJpegRows(jpeg_decompress_struct& info, JpegError& error, HostImage& image,
                 std::vector<JSAMPLE>& row)
{
    if (setjmp(error.back))
        return 1;
    jpeg_start_decompress(&info);
    if (info.output_components != 3)
        return 1;
    row.resize(size_t(info.output_width) * 3);
    BeginRows(image, info.output_width, info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        uint16_t* pixel = AppendRow(image);
        for (uint32_t x = 0; x < info.output_width; ++x, pixel += 4) {
            pixel[0] = uint16_t(row[3 * x] << 8);
            pixel[1] = uint16_t(row[3 * x + 1] << 8);
            pixel[2] = uint16_t(row[3 * x + 2] << 8);
            pixel[3] = kOpaqueAlpha;
        }
    }
    jpeg_finish_decompress(&info);
    return 0;
}

} // namespace

bool ReadJpeg(ImageInput& input, uint64_t maxPixels, HostImage& image, std::string& error)
{
    jpeg_decompress_struct info{};
    JpegError failure;
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = OnJpegError;
    failure.manager.emit_message = OnJpegMessage;
    jpeg_create_decompress(&info);
    auto source = std::make_unique<JpegSource>();
    source->input = &input;
    source->cutShort = false;
    source->manager.init_source = InitSource;
    source->manager.fill_input_buffer = FillInputBuffer;
    source->manager.skip_input_data = SkipInputData;
    source->manager.resync_to_restart = jpeg_resync_to_restart;
    source->manager.term_source = TermSource;
    info.src = &source->manager;

    bool ok = false;
    std::vector<JSAMPLE> row;
    if (ReadJpegHeader(info, failure) != 0)
        error = std::string("JPEG data is corrupt or cut short (") + failure.message + ")";
    else if (!CheckImageSize(info.image_width, info.image_height, maxPixels, error))
        ok = false;
    else if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK)
        error = "CMYK JPEG images are not supported (only grey and colour)";
    else if (ReadJpegRows(info, failure, image, row) != 0)
        error = std::string("JPEG data is corrupt or cut short (") +
                (failure.message[0] ? failure.message : "not RGB or grey") + ")";
    else if (source->cutShort)
        error = "JPEG data is cut short";
    else
        ok = true;
    jpeg_destroy_decompress(&info);
    image.hasAlpha = false;
    return ok;
}

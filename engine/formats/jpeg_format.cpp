// JPEG files through libjpeg(-turbo): grey and colour JPEGs (baseline or
// progressive) are read as RGB without alpha; written as 8-bit RGB at
// --quality (default 90), alpha left out. The comment travels as a COM
// marker, the pixel aspect ratio as the JFIF density (unit 0). A file's
// scans are counted as they come and bounded (--max-scans), since each
// scan of a progressive file is a pass over the whole image.
#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "engine/formats/image_format.h"
#include "engine/formats/image_input.h"
#include "engine/formats/image_output.h"
#include "engine/support/system_error_text.h"

// libjpeg reports errors by calling error_exit, which jumps back to the
// setjmp in the function that made the call; like the PNG reader, those
// functions hold nothing with a destructor. The error manager is set, and
// every call is made under a setjmp, from jpeg_create_* on: creating
// allocates, and fails as any call does.

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf back;
    char message[JMSG_LENGTH_MAX] = "";
    uint32_t maxScans = kDefaultMaxScans;
    bool overScans = false; // the reader met scan maxScans + 1
};

void OnJpegError(j_common_ptr info)
{
    auto* error = reinterpret_cast<JpegError*>(info->err);
    info->err->format_message(info, error->message);
    longjmp(error->back, 1);
}

void OnJpegMessage(j_common_ptr, int) {}

// Called before each piece of input is decoded: a scan past the bound ends
// the read before its work.
void CheckScans(j_common_ptr info)
{
    auto* error = reinterpret_cast<JpegError*>(info->err);
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (uint32_t(decompress->input_scan_number) <= error->maxScans)
        return;
    error->overScans = true;
    longjmp(error->back, 1);
}

void UseJpegErrors(jpeg_error_mgr& manager)
{
    jpeg_std_error(&manager);
    manager.error_exit = OnJpegError;
    manager.emit_message = OnJpegMessage;
}

int CreateDecompress(jpeg_decompress_struct& info, JpegError& error)
{
    if (setjmp(error.back))
        return 1;
    jpeg_create_decompress(&info);
    return 0;
}

int CreateCompress(jpeg_compress_struct& info, JpegError& error)
{
    if (setjmp(error.back))
        return 1;
    jpeg_create_compress(&info);
    return 0;
}

// Feeds libjpeg from an ImageInput, 64 KiB at a time.
struct JpegFeed {
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
    auto* source = reinterpret_cast<JpegFeed*>(info->src);
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
    auto* source = reinterpret_cast<JpegFeed*>(info->src);
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
    jpeg_save_markers(&info, JPEG_COM, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    return 0;
}

int StartJpegRows(jpeg_decompress_struct& info, JpegError& error)
{
    if (setjmp(error.back))
        return 1;
    jpeg_start_decompress(&info);
    return info.output_components == 3 ? 0 : 1;
}

int ReadJpegRow(jpeg_decompress_struct& info, JpegError& error, JSAMPLE* row)
{
    if (setjmp(error.back))
        return 1;
    JSAMPROW rows[1] = {row};
    jpeg_read_scanlines(&info, rows, 1);
    return 0;
}

int FinishJpegRows(jpeg_decompress_struct& info, JpegError& error)
{
    if (setjmp(error.back))
        return 1;
    jpeg_finish_decompress(&info);
    return 0;
}

class JpegSource : public RowSource {
public:
    JpegSource(ImageInput& from, const ReadSettings& settings)
        : input(from), maxPixels(settings.maxPixels)
    {
        failure.maxScans = settings.maxScans;
    }
    ~JpegSource() override
    {
        if (created)
            jpeg_destroy_decompress(&info);
    }

    bool Start(ImageHeader& header, std::string& error) override
    {
        info.err = &failure.manager;
        UseJpegErrors(failure.manager);
        if (CreateDecompress(info, failure) != 0)
            return Corrupt(error);
        created = true;
        source = std::make_unique<JpegFeed>();
        source->input = &input;
        source->cutShort = false;
        source->manager.init_source = InitSource;
        source->manager.fill_input_buffer = FillInputBuffer;
        source->manager.skip_input_data = SkipInputData;
        source->manager.resync_to_restart = jpeg_resync_to_restart;
        source->manager.term_source = TermSource;
        info.src = &source->manager;
        progress.progress_monitor = CheckScans;
        info.progress = &progress;
        if (ReadJpegHeader(info, failure) != 0)
            return Corrupt(error);
        if (!CheckImageSize(info.image_width, info.image_height, maxPixels, error))
            return false;
        if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
            error = "CMYK JPEG images are not supported (only grey and colour)";
            return false;
        }
        if (StartJpegRows(info, failure) != 0)
            return Corrupt(error);
        row.resize(size_t(info.output_width) * 3);
        header.width = info.output_width;
        header.height = info.output_height;
        header.hasAlpha = false;
        if (info.saw_JFIF_marker && info.density_unit == 0)
            header.haveAspect = AspectFromDensity(info.X_density, info.Y_density, header.aspect);
        for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr;
             marker = marker->next)
            if (marker->marker == JPEG_COM && !header.haveComment) {
                header.haveComment = true;
                header.comment.assign(reinterpret_cast<const char*>(marker->data),
                                      marker->data_length);
                header.comment.resize(std::strlen(header.comment.c_str()));
            }
        return true;
    }

    bool Row(uint16_t* pixel, std::string& error) override
    {
        if (ReadJpegRow(info, failure, row.data()) != 0)
            return Corrupt(error);
        for (uint32_t x = 0; x < info.output_width; ++x, pixel += 4) {
            pixel[0] = uint16_t(row[3 * x] << 8);
            pixel[1] = uint16_t(row[3 * x + 1] << 8);
            pixel[2] = uint16_t(row[3 * x + 2] << 8);
            pixel[3] = kOpaqueAlpha;
        }
        return true;
    }

    bool Finish(ImageHeader&, std::string& error) override
    {
        if (FinishJpegRows(info, failure) != 0)
            return Corrupt(error);
        if (source->cutShort) {
            error = "JPEG data is cut short";
            return false;
        }
        return true;
    }

private:
    bool Corrupt(std::string& error)
    {
        if (failure.overScans)
            error = LimitText("holds scan " + std::to_string(failure.maxScans + 1), "--max-scans",
                              failure.maxScans);
        else
            error = std::string("JPEG data is corrupt or cut short (") +
                    (failure.message[0] ? failure.message : "not RGB or grey") + ")";
        return false;
    }

    ImageInput& input;
    uint64_t maxPixels;
    jpeg_decompress_struct info{};
    bool created = false;
    jpeg_progress_mgr progress{};
    JpegError failure;
    std::unique_ptr<JpegFeed> source;
    std::vector<JSAMPLE> row;
};

int BeginJpeg(jpeg_compress_struct& info, JpegError& error, FILE* file, const ImageHeader& header,
              int quality)
{
    if (setjmp(error.back))
        return 1;
    jpeg_stdio_dest(&info, file);
    info.image_width = header.width;
    info.image_height = header.height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (AspectToWrite(header)) {
        uint32_t across = 1, down = 1;
        DensityFromAspect(header.aspect, 0xFFFF, across, down);
        info.density_unit = 0;
        info.X_density = UINT16(across);
        info.Y_density = UINT16(down);
    }
    jpeg_start_compress(&info, TRUE);
    if (header.haveComment && !header.comment.empty())
        jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(header.comment.data()),
                          unsigned(std::min<size_t>(header.comment.size(), 65533)));
    return 0;
}

int WriteJpegRow(jpeg_compress_struct& info, JpegError& error, JSAMPLE* row)
{
    if (setjmp(error.back))
        return 1;
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(&info, rows, 1);
    return 0;
}

int EndJpeg(jpeg_compress_struct& info, JpegError& error)
{
    if (setjmp(error.back))
        return 1;
    jpeg_finish_compress(&info);
    return 0;
}

class JpegSink : public RowSink {
public:
    JpegSink(const std::string& name, int level) : path(name), quality(level) {}
    ~JpegSink() override
    {
        if (created)
            jpeg_destroy_compress(&info);
    }

    bool Start(const ImageHeader& header, std::string& error) override
    {
        info.err = &failure.manager;
        UseJpegErrors(failure.manager);
        errno = 0;
        if (!Check(CreateCompress(info, failure), error))
            return false;
        created = true;
        sixteenBit = header.sixteenBit;
        row.resize(size_t(header.width) * 3);
        FILE* file = output.Open(path, error);
        if (file == nullptr)
            return false;
        errno = 0;
        return Check(BeginJpeg(info, failure, file, header, quality), error);
    }

    bool Row(const uint16_t* pixel, std::string& error) override
    {
        for (size_t x = 0; x < row.size(); x += 3, pixel += 4) {
            row[x] = JSAMPLE(Sample8(pixel[0], sixteenBit));
            row[x + 1] = JSAMPLE(Sample8(pixel[1], sixteenBit));
            row[x + 2] = JSAMPLE(Sample8(pixel[2], sixteenBit));
        }
        errno = 0;
        return Check(WriteJpegRow(info, failure, row.data()), error);
    }

    bool Finish(std::string& error) override
    {
        errno = 0;
        const bool written = !failed && Check(EndJpeg(info, failure), error);
        return output.Close(written, error);
    }

private:
    bool Check(int result, std::string& error)
    {
        if (result != 0) {
            failed = true;
            error =
                errno != 0 ? SystemErrorText(errno) : std::string("JPEG error: ") + failure.message;
        }
        return result == 0;
    }

    std::string path;
    int quality;
    jpeg_compress_struct info{};
    bool created = false;
    JpegError failure;
    ImageOutput output;
    std::vector<JSAMPLE> row;
    bool sixteenBit = false;
    bool failed = false;
};

constexpr uint8_t kJpegSignature[3] = {0xFF, 0xD8, 0xFF};

bool SniffJpeg(const uint8_t* head, size_t count)
{
    return count >= 3 && std::memcmp(head, kJpegSignature, 3) == 0;
}

std::unique_ptr<RowSource> NewJpegReader(ImageInput& input, const ReadSettings& settings)
{
    return std::make_unique<JpegSource>(input, settings);
}

std::unique_ptr<RowSink> NewJpegWriter(const std::string& path, const WriteSettings& settings)
{
    return std::make_unique<JpegSink>(path, settings.quality);
}

} // namespace

extern const ImageFormat kJpegFormat = {
    "JPEG",
    "jpg jpeg",
    SniffJpeg,
    NewJpegReader,
    NewJpegWriter,
    false,
    false,
    true,
    false,
    true,
    false,
    "grey and colour, baseline and progressive; COM comment, JFIF aspect",
    "RGB (no alpha), 8 bits, --quality 1 to 100 (90); COM comment,\n"
    "           JFIF aspect",
};

#include "tools/pictool/png_io.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

// libpng reports errors by calling our handler, which jumps back to the
// setjmp of the function that made the call. Those functions hold no object
// with a destructor, so the jump skips nothing that needs running; buffers
// are owned by their callers.

namespace {

// libpng's side of one read or write, and the last error it reported.
struct PngSession {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ImageInput* input = nullptr;
    char message[200] = "";
    bool overLimit = false; // libpng warned that a side passes the user limit
};

void OnPngError(png_structp png, png_const_charp text)
{
    auto* session = static_cast<PngSession*>(png_get_error_ptr(png));
    std::snprintf(session->message, sizeof session->message, "%s", text ? text : "PNG error");
    png_longjmp(png, 1);
}

// libpng warns of a side over the user limit, then fails with "Invalid
// IHDR data": the warning is what says why.
void OnPngWarning(png_structp png, png_const_charp text)
{
    auto* session = static_cast<PngSession*>(png_get_error_ptr(png));
    if (text != nullptr && std::strstr(text, "exceeds user limit") != nullptr)
        session->overLimit = true;
}

void ReadFromInput(png_structp png, png_bytep bytes, png_size_t count)
{
    auto* session = static_cast<PngSession*>(png_get_error_ptr(png));
    if (session->input->Read(bytes, count) != count)
        png_error(png, "cut short");
}

// What the rows look like once the read transforms are applied.
struct PngLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0; // 3 or 4
    bool interlaced = false;
    size_t rowBytes = 0;
    uint64_t storedBytes = 0; // the decompressed data as stored, filter bytes included
};

// Deflate makes at most 1032 bytes of one; a file this much smaller than its
// rows cannot hold them, whatever its header says.
constexpr uint64_t kDeflateMaxRatio = 1032;

bool ReadPngInfo(PngSession& session, PngLayout& layout)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    // The sides PIC holds at most; CheckImageSize gives the words for it.
    png_set_user_limits(session.png, kMaxImageSide, kMaxImageSide);
    png_read_info(session.png, session.info);
    const int colorType = png_get_color_type(session.png, session.info);
    const int bitDepth = png_get_bit_depth(session.png, session.info);
    layout.storedBytes = uint64_t(png_get_image_height(session.png, session.info)) *
                         ((uint64_t(png_get_image_width(session.png, session.info)) *
                               png_get_channels(session.png, session.info) * uint64_t(bitDepth) +
                           7) /
                              8 +
                          1);
    layout.interlaced = png_get_interlace_type(session.png, session.info) != PNG_INTERLACE_NONE;
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(session.png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(session.png);
    if (png_get_valid(session.png, session.info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(session.png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(session.png);
    if (bitDepth == 16)
        png_set_scale_16(session.png); // rounds, where strip_16 would cut
    if (layout.interlaced)
        png_set_interlace_handling(session.png);
    png_read_update_info(session.png, session.info);
    layout.width = png_get_image_width(session.png, session.info);
    layout.height = png_get_image_height(session.png, session.info);
    layout.channels = png_get_channels(session.png, session.info);
    layout.rowBytes = png_get_rowbytes(session.png, session.info);
    return true;
}

// Interlaced images come in passes over the whole image, so they are read
// whole; others row by row, each row stored as it arrives.
bool ReadPngRows(PngSession& session, const PngLayout& layout, HostImage& image,
                 std::vector<uint8_t>& bytes, std::vector<png_bytep>& rows)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    const auto store = [&](const uint8_t* sample) {
        uint16_t* pixel = AppendRow(image);
        for (uint32_t x = 0; x < layout.width; ++x, pixel += 4) {
            for (int c = 0; c < layout.channels; ++c)
                pixel[c] = uint16_t(*sample++ << 8);
            if (layout.channels == 3)
                pixel[3] = kOpaqueAlpha;
        }
    };
    if (layout.interlaced) {
        bytes.resize(layout.rowBytes * layout.height);
        rows.resize(layout.height);
        for (uint32_t y = 0; y < layout.height; ++y)
            rows[y] = bytes.data() + size_t(y) * layout.rowBytes;
        png_read_image(session.png, rows.data());
        for (uint32_t y = 0; y < layout.height; ++y)
            store(rows[y]);
    } else {
        bytes.resize(layout.rowBytes);
        for (uint32_t y = 0; y < layout.height; ++y) {
            png_read_row(session.png, bytes.data(), nullptr);
            store(bytes.data());
        }
    }
    return true;
}

bool CheckLayout(const PngLayout& layout, std::string& error)
{
    const bool known = (layout.channels == 3 || layout.channels == 4) &&
                       layout.rowBytes == size_t(layout.width) * size_t(layout.channels);
    if (!known)
        error = "PNG layout not understood after expansion";
    return known;
}

struct ReadGuard {
    PngSession& session;
    ~ReadGuard() { png_destroy_read_struct(&session.png, &session.info, nullptr); }
};

std::string CorruptPng(const PngSession& session)
{
    return std::string("PNG data is corrupt or cut short (") + session.message + ")";
}

} // namespace

bool ReadPng(ImageInput& input, uint64_t maxPixels, HostImage& image, std::string& error)
{
    PngSession session;
    session.input = &input;
    session.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &session, OnPngError, OnPngWarning);
    if (session.png == nullptr) {
        error = "out of memory";
        return false;
    }
    ReadGuard guard{session};
    session.info = png_create_info_struct(session.png);
    if (session.info == nullptr) {
        error = "out of memory";
        return false;
    }
    png_set_read_fn(session.png, nullptr, ReadFromInput);
    PngLayout layout;
    if (!ReadPngInfo(session, layout)) {
        if (session.overLimit)
            error = "PNG image is wider or taller than PIC holds (32767 pixels a side)";
        else
            error = CorruptPng(session);
        return false;
    }
    if (!CheckImageSize(layout.width, layout.height, maxPixels, error) ||
        !CheckLayout(layout, error))
        return false;
    if (input.Size() != 0 && layout.storedBytes / kDeflateMaxRatio > input.Size()) {
        error = "PNG data is corrupt or cut short (" + std::to_string(input.Size()) +
                " bytes cannot hold " + std::to_string(layout.width) + " x " +
                std::to_string(layout.height) + " pixels)";
        return false;
    }
    image.hasAlpha = layout.channels == 4;
    BeginRows(image, layout.width, layout.height);
    std::vector<uint8_t> bytes;
    std::vector<png_bytep> rows;
    if (!ReadPngRows(session, layout, image, bytes, rows)) {
        error = CorruptPng(session);
        return false;
    }
    return true;
}

namespace {

bool WritePngImage(PngSession& session, FILE* file, const HostImage& image, int bitDepth,
                   std::vector<uint8_t>& row)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    png_init_io(session.png, file);
    png_set_IHDR(session.png, session.info, image.width, image.height, bitDepth,
                 image.hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(session.png, session.info);
    const int channels = image.hasAlpha ? 4 : 3;
    const uint16_t* pixel = image.channels.data();
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* out = row.data();
        for (uint32_t x = 0; x < image.width; ++x, pixel += 4) {
            for (int c = 0; c < channels; ++c) {
                *out++ = uint8_t(pixel[c] >> 8);
                if (bitDepth == 16)
                    *out++ = uint8_t(pixel[c] >> 8); // times 257
            }
        }
        png_write_row(session.png, row.data());
    }
    png_write_end(session.png, nullptr);
    return true;
}

struct WriteGuard {
    PngSession& session;
    ~WriteGuard() { png_destroy_write_struct(&session.png, &session.info); }
};

} // namespace

bool WritePng(const std::string& path, const HostImage& image, SampleDepth depth,
              std::string& error)
{
    const int bitDepth = depth == SampleDepth::Eight ? 8 : 16;
    std::vector<uint8_t> row(size_t(image.width) * (image.hasAlpha ? 4 : 3) * size_t(bitDepth / 8));
    PngSession session;
    session.png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &session, OnPngError, OnPngWarning);
    if (session.png == nullptr) {
        error = "out of memory";
        return false;
    }
    WriteGuard guard{session};
    session.info = png_create_info_struct(session.png);
    if (session.info == nullptr) {
        error = "out of memory";
        return false;
    }
    ImageOutput output;
    FILE* file = output.Open(path, error);
    if (file == nullptr)
        return false;
    errno = 0;
    const bool written = WritePngImage(session, file, image, bitDepth, row);
    if (!written)
        // libpng's own words for a failed write say nothing of why.
        error = errno != 0 ? SystemErrorText(errno) : std::string("PNG error: ") + session.message;
    return output.Close(written, error);
}

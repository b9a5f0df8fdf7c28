#include "tools/pictool/png_io.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "output/atomic_output.h"

// libpng reports errors by calling our handler, which jumps back to the
// setjmp of the function that made the call. Those functions hold no object
// with a destructor, so the jump skips nothing that needs running; buffers
// are owned by their callers.

namespace {

struct FileDeleter {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileDeleter>;

// libpng's side of one read or write, and the last error it reported.
struct PngSession {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[200] = "";
};

void OnPngError(png_structp png, png_const_charp text)
{
    auto* session = static_cast<PngSession*>(png_get_error_ptr(png));
    std::snprintf(session->message, sizeof session->message, "%s", text ? text : "PNG error");
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// What the rows look like once the read transforms are applied.
struct PngLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0; // 3 or 4
    int bitDepth = 0; // 8 or 16
    size_t rowBytes = 0;
};

// Wider than PIC holds, but small enough that libpng's own row buffers stay
// modest; SizeHostImage gives the exact refusal.
constexpr uint32_t kPngUserLimit = 1u << 20;

bool ReadPngInfo(PngSession& session, FILE* file, PngLayout& layout)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    png_init_io(session.png, file);
    png_set_user_limits(session.png, kPngUserLimit, kPngUserLimit);
    png_read_info(session.png, session.info);
    const int colorType = png_get_color_type(session.png, session.info);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(session.png);
    if (colorType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(session.png, session.info) < 8)
        png_set_expand_gray_1_2_4_to_8(session.png);
    if (png_get_valid(session.png, session.info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(session.png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(session.png);
    png_set_interlace_handling(session.png);
    png_read_update_info(session.png, session.info);
    layout.width = png_get_image_width(session.png, session.info);
    layout.height = png_get_image_height(session.png, session.info);
    layout.channels = png_get_channels(session.png, session.info);
    layout.bitDepth = png_get_bit_depth(session.png, session.info);
    layout.rowBytes = png_get_rowbytes(session.png, session.info);
    return true;
}

bool ReadPngRows(PngSession& session, png_bytep* rows)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    png_read_image(session.png, rows);
    return true;
}

// Rows of 8-bit or big-endian 16-bit RGB(A) samples into host channels.
void StorePngRows(const std::vector<uint8_t>& bytes, const PngLayout& layout, HostImage& image)
{
    const bool wide = layout.bitDepth == 16;
    uint16_t* pixel = image.channels.data();
    for (uint32_t y = 0; y < layout.height; ++y) {
        const uint8_t* sample = bytes.data() + size_t(y) * layout.rowBytes;
        for (uint32_t x = 0; x < layout.width; ++x, pixel += 4) {
            for (int c = 0; c < layout.channels; ++c, sample += wide ? 2 : 1)
                pixel[c] = wide ? uint16_t(sample[0] << 8 | sample[1]) : uint16_t(sample[0] << 8);
            if (layout.channels == 3)
                pixel[3] = kOpaqueAlpha;
        }
    }
}

bool CheckLayout(const PngLayout& layout, std::string& error)
{
    const bool known =
        (layout.channels == 3 || layout.channels == 4) &&
        (layout.bitDepth == 8 || layout.bitDepth == 16) &&
        layout.rowBytes == size_t(layout.width) * layout.channels * size_t(layout.bitDepth / 8);
    if (!known)
        error = "PNG layout not understood after expansion";
    return known;
}

struct ReadGuard {
    PngSession& session;
    ~ReadGuard() { png_destroy_read_struct(&session.png, &session.info, nullptr); }
};

} // namespace

bool ReadPngFile(const std::string& path, HostImage& image, std::string& error)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = std::string("cannot open (") + std::strerror(errno) + ")";
        return false;
    }
    PngSession session;
    session.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &session, OnPngError, OnPngWarning);
    if (session.png == nullptr) {
        error = "out of memory";
        return false;
    }
    ReadGuard guard{session};
    session.info = png_create_info_struct(session.png);
    PngLayout layout;
    if (session.info == nullptr || !ReadPngInfo(session, file.get(), layout)) {
        error = std::string("bad PNG: ") + session.message;
        return false;
    }
    if (!SizeHostImage(image, layout.width, layout.height, error) || !CheckLayout(layout, error))
        return false;
    std::vector<uint8_t> bytes(layout.rowBytes * layout.height);
    std::vector<png_bytep> rows(layout.height);
    for (uint32_t y = 0; y < layout.height; ++y)
        rows[y] = bytes.data() + size_t(y) * layout.rowBytes;
    if (!ReadPngRows(session, rows.data())) {
        error = std::string("bad PNG: ") + session.message;
        return false;
    }
    image.hasAlpha = layout.channels == 4;
    StorePngRows(bytes, layout, image);
    return true;
}

namespace {

bool WritePngImage(PngSession& session, FILE* file, const HostImage& image, int depth,
                   png_bytep* rows)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    png_init_io(session.png, file);
    png_set_IHDR(session.png, session.info, image.width, image.height, depth,
                 image.hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(session.png, session.info);
    png_write_image(session.png, rows);
    png_write_end(session.png, nullptr);
    return true;
}

// Host channels as PNG samples: the high byte at 8 bits, big-endian at 16.
std::vector<uint8_t> PackPngSamples(const HostImage& image, int depth)
{
    const int channels = image.hasAlpha ? 4 : 3;
    const size_t sampleBytes = depth == 16 ? 2 : 1;
    std::vector<uint8_t> bytes(size_t(image.width) * image.height * channels * sampleBytes);
    uint8_t* out = bytes.data();
    const uint16_t* pixel = image.channels.data();
    const size_t pixelCount = size_t(image.width) * image.height;
    for (size_t i = 0; i < pixelCount; ++i, pixel += 4) {
        for (int c = 0; c < channels; ++c) {
            *out++ = uint8_t(pixel[c] >> 8);
            if (sampleBytes == 2)
                *out++ = uint8_t(pixel[c] & 0xFF);
        }
    }
    return bytes;
}

struct WriteGuard {
    PngSession& session;
    ~WriteGuard() { png_destroy_write_struct(&session.png, &session.info); }
};

} // namespace

bool WritePngFile(const std::string& path, const HostImage& image, int depth, std::string& error)
{
    std::vector<uint8_t> bytes = PackPngSamples(image, depth);
    const size_t rowBytes = image.height ? bytes.size() / image.height : 0;
    std::vector<png_bytep> rows(image.height);
    for (uint32_t y = 0; y < image.height; ++y)
        rows[y] = bytes.data() + size_t(y) * rowBytes;

    // Written beside the target and moved over it only when whole.
    AtomicOutput output;
    FILE* file = output.Open(path.c_str());
    if (file == nullptr) {
        error = std::string("cannot create (") + std::strerror(errno) + ")";
        return false;
    }
    PngSession session;
    session.png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &session, OnPngError, OnPngWarning);
    if (session.png == nullptr) {
        error = "out of memory";
        return false;
    }
    WriteGuard guard{session};
    session.info = png_create_info_struct(session.png);
    const bool written =
        session.info != nullptr && WritePngImage(session, file, image, depth, rows.data());
    if (written && output.Commit())
        return true;
    error = written ? std::string("cannot write (") + std::strerror(errno) + ")"
                    : std::string("cannot write PNG: ") + session.message;
    return false;
}

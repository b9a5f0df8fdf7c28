#include "tools/pictool/image_io.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/pictool/pam_io.h"
#if defined(PICTOOL_HAVE_PNG)
#include "tools/pictool/png_io.h"
#endif

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t kPicSignature[4] = {0x53, 0x80, 0xF6, 0x34};

bool EndsWithNoCase(const std::string& text, const char* suffix)
{
    const size_t length = std::strlen(suffix);
    if (text.size() < length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - length + i])) != suffix[i])
            return false;
    return true;
}

} // namespace

ImageFormat SniffImageFormat(const std::string& path)
{
    uint8_t head[8] = {};
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return ImageFormat::Unknown;
    const size_t count = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (count >= 8 && std::memcmp(head, kPngSignature, 8) == 0)
        return ImageFormat::Png;
    if (count >= 3 && head[0] == 'P' && head[1] == '7' && head[2] == '\n')
        return ImageFormat::Pam;
    if (count >= 4 && std::memcmp(head, kPicSignature, 4) == 0)
        return ImageFormat::Pic;
    return ImageFormat::Unknown;
}

ImageFormat FormatFromExtension(const std::string& path)
{
    if (EndsWithNoCase(path, ".png"))
        return ImageFormat::Png;
    if (EndsWithNoCase(path, ".pam"))
        return ImageFormat::Pam;
    if (EndsWithNoCase(path, ".pic"))
        return ImageFormat::Pic;
    return ImageFormat::Unknown;
}

bool SizeHostImage(HostImage& image, uint32_t width, uint32_t height, std::string& error)
{
    if (width == 0 || height == 0) {
        error = "image has no pixels";
        return false;
    }
    if (width > kMaxImageSide || height > kMaxImageSide ||
        uint64_t(width) * height > kMaxImagePixels) {
        error = "image is " + std::to_string(width) + " x " + std::to_string(height) +
                ", more than PIC holds (32767 pixels a side, 2^28 pixels)";
        return false;
    }
    image.width = width;
    image.height = height;
    image.channels.assign(size_t(uint64_t(width) * height * 4), 0);
    return true;
}

bool ReadImageFile(const std::string& path, HostImage& image, std::string& error)
{
    switch (SniffImageFormat(path)) {
    case ImageFormat::Pam:
        return ReadPamFile(path, image, error);
    case ImageFormat::Png:
#if defined(PICTOOL_HAVE_PNG)
        return ReadPngFile(path, image, error);
#else
        error = "PNG files are not supported by this build of pictool (use PAM)";
        return false;
#endif
    default:
        break;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::string("cannot open (") + std::strerror(errno) + ")";
        return false;
    }
    std::fclose(file);
    error = "not a PNG or PAM file";
    return false;
}

bool WriteImageFile(const std::string& path, ImageFormat format, int pngDepth,
                    const HostImage& image, std::string& error)
{
    if (format == ImageFormat::Pam)
        return WritePamFile(path, image, error);
#if defined(PICTOOL_HAVE_PNG)
    if (format == ImageFormat::Png)
        return WritePngFile(path, image, pngDepth, error);
#else
    (void)pngDepth;
#endif
    error = "cannot write this format";
    return false;
}

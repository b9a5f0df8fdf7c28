#include "tools/pictool/image_io.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "tools/pictool/pam_io.h"
#if defined(PICTOOL_HAVE_PNG)
#include "tools/pictool/png_io.h"
#endif
#if defined(PICTOOL_HAVE_JPEG)
#include "tools/pictool/jpeg_io.h"
#endif
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t kPicSignature[4] = {0x53, 0x80, 0xF6, 0x34};
constexpr uint8_t kJpegSignature[3] = {0xFF, 0xD8, 0xFF};

// Channels reserved before the first row: 16 MiB. Larger images grow as
// their rows arrive.
constexpr size_t kFirstReservation = size_t(8) << 20;

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

ImageFormat FormatOfHead(const uint8_t* head, size_t count)
{
    if (count >= 8 && std::memcmp(head, kPngSignature, 8) == 0)
        return ImageFormat::Png;
    if (count >= 3 && std::memcmp(head, kJpegSignature, 3) == 0)
        return ImageFormat::Jpeg;
    if (count >= 4 && std::memcmp(head, kPicSignature, 4) == 0)
        return ImageFormat::Pic;
    if (count >= 3 && head[0] == 'P' && head[1] == '7' && head[2] == '\n')
        return ImageFormat::Pam;
    if (count >= 3 && head[0] == 'P' && (head[1] == '5' || head[1] == '6') && std::isspace(head[2]))
        return ImageFormat::Pnm;
    return ImageFormat::Unknown;
}

void UseBinaryMode([[maybe_unused]] FILE* file)
{
#if defined(_WIN32)
    _setmode(_fileno(file), _O_BINARY);
#endif
}

} // namespace

std::string SystemErrorText(int number)
{
    std::string text = std::strerror(number);
    if (!text.empty())
        text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

ImageInput::~ImageInput()
{
    if (ownsFile && file != nullptr)
        std::fclose(file);
}

bool ImageInput::Open(const std::string& name, std::string& error)
{
    path = name;
    if (name == "-") {
        file = stdin;
        UseBinaryMode(stdin);
    } else {
        std::error_code status;
        if (std::filesystem::is_directory(name, status)) {
            error = "is a directory";
            return false;
        }
        file = std::fopen(name.c_str(), "rb");
        if (file == nullptr) {
            error = SystemErrorText(errno);
            return false;
        }
        ownsFile = true;
        const uintmax_t bytes = std::filesystem::file_size(name, status);
        if (!status && std::filesystem::is_regular_file(name, status))
            size = uint64_t(bytes);
    }
    headSize = std::fread(head, 1, sizeof head, file);
    format = FormatOfHead(head, headSize);
    return true;
}

size_t ImageInput::Read(void* bytes, size_t count)
{
    auto* out = static_cast<uint8_t*>(bytes);
    const size_t fromHead = std::min(count, headSize - headUsed);
    std::memcpy(out, head + headUsed, fromHead);
    headUsed += fromHead;
    if (fromHead == count)
        return count;
    return fromHead + std::fread(out + fromHead, 1, count - fromHead, file);
}

int ImageInput::ReadByte()
{
    uint8_t byte = 0;
    return Read(&byte, 1) == 1 ? byte : -1;
}

bool ImageInput::Failed() const
{
    return file != nullptr && std::ferror(file) != 0;
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

const char* FormatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Png:
        return "PNG";
    case ImageFormat::Pam:
        return "PAM";
    case ImageFormat::Pnm:
        return "PGM/PPM";
    case ImageFormat::Jpeg:
        return "JPEG";
    case ImageFormat::Pic:
        return "PIC";
    default:
        return "unknown";
    }
}

bool CheckImageSize(uint64_t width, uint64_t height, uint64_t maxPixels, std::string& error)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width == 0 || height == 0) {
        error = "image has no pixels (" + size + ")";
        return false;
    }
    if (width > kMaxImageSide || height > kMaxImageSide) {
        error = "image is " + size + ", more than PIC holds (32767 pixels a side)";
        return false;
    }
    if (width * height > maxPixels) {
        error = "image is " + size + ", more than --max-pixels " + std::to_string(maxPixels) +
                (maxPixels == kMaxImagePixels ? " (2^28, what the host's storage holds)" : "");
        return false;
    }
    return true;
}

void BeginRows(HostImage& image, uint32_t width, uint32_t height)
{
    image.width = width;
    image.height = height;
    image.channels.clear();
    image.channels.reserve(std::min(size_t(uint64_t(width) * height * 4), kFirstReservation));
}

uint16_t* AppendRow(HostImage& image)
{
    const size_t rowChannels = size_t(image.width) * 4;
    image.channels.resize(image.channels.size() + rowChannels);
    return image.channels.data() + image.channels.size() - rowChannels;
}

bool ReadImage(ImageInput& input, uint64_t maxPixels, HostImage& image, std::string& error)
{
    switch (input.Format()) {
    case ImageFormat::Pam:
    case ImageFormat::Pnm:
        return ReadNetpbm(input, maxPixels, image, error);
    case ImageFormat::Png:
#if defined(PICTOOL_HAVE_PNG)
        return ReadPng(input, maxPixels, image, error);
#else
        error = "PNG input is not supported by this build of pictool (use PAM)";
        return false;
#endif
    case ImageFormat::Jpeg:
#if defined(PICTOOL_HAVE_JPEG)
        return ReadJpeg(input, maxPixels, image, error);
#else
        error = "JPEG input is not supported by this build of pictool";
        return false;
#endif
    case ImageFormat::Pic:
        error = "input is a PIC file; the output must be .png or .pam";
        return false;
    default:
        error = "not an image pictool reads ("
#if defined(PICTOOL_HAVE_PNG)
                "PNG, "
#endif
#if defined(PICTOOL_HAVE_JPEG)
                "JPEG, "
#endif
                "PAM, PGM or PPM)";
        return false;
    }
}

bool ReadImageFile(const std::string& path, uint64_t maxPixels, HostImage& image,
                   std::string& error)
{
    ImageInput input;
    return input.Open(path, error) && ReadImage(input, maxPixels, image, error);
}

bool WriteImageFile(const std::string& path, ImageFormat format, SampleDepth depth,
                    const HostImage& image, std::string& error)
{
    if (format == ImageFormat::Pam)
        return WritePam(path, image, depth, error);
#if defined(PICTOOL_HAVE_PNG)
    if (format == ImageFormat::Png)
        return WritePng(path, image, depth, error);
#endif
    error = "cannot write this format";
    return false;
}

FILE* ImageOutput::Open(const std::string& path, std::string& error)
{
    toStdout = path == "-";
    if (toStdout) {
        UseBinaryMode(stdout);
        stream = stdout;
        return stream;
    }
    std::error_code status;
    if (std::filesystem::is_directory(path, status)) {
        error = "is a directory";
        return nullptr;
    }
    stream = file.Open(path.c_str());
    if (stream == nullptr)
        error = "cannot create (" + SystemErrorText(errno) + ")";
    return stream;
}

bool ImageOutput::Close(bool written, std::string& error)
{
    written = written && std::ferror(stream) == 0;
    bool finished = false;
    if (toStdout)
        finished = std::fflush(stream) == 0;
    else if (written)
        finished = file.Commit() == 1; // otherwise the destructor discards it
    if (written && finished)
        return true;
    if (error.empty())
        error = errno != 0 ? SystemErrorText(errno) : "write failed";
    return false;
}

StagingFile::StagingFile()
{
    static std::atomic<unsigned> counter{0};
    std::error_code status;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(status);
    const unsigned stamp = std::random_device{}();
    path = (folder / ("pictool-" + std::to_string(getpid()) + "-" + std::to_string(stamp) + "-" +
                      std::to_string(counter++) + ".pic"))
               .string();
    removal = std::make_unique<InterruptRemoval>(path);
}

StagingFile::~StagingFile()
{
    std::remove(path.c_str());
}

bool StagingFile::Fill(ImageInput& input, std::string& error)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot stage standard input in " + path + " (" + SystemErrorText(errno) + ")";
        return false;
    }
    std::vector<uint8_t> buffer(size_t(1) << 16);
    bool written = true;
    for (size_t got; written && (got = input.Read(buffer.data(), buffer.size())) > 0;)
        written = std::fwrite(buffer.data(), 1, got, file) == got;
    if (!written)
        error = "cannot stage standard input in " + path + " (" + SystemErrorText(errno) + ")";
    const bool closed = std::fclose(file) == 0;
    if (written && !closed)
        error = "cannot stage standard input in " + path + " (" + SystemErrorText(errno) + ")";
    if (written && closed && input.Failed())
        error = "cannot read standard input (" + SystemErrorText(errno) + ")";
    return error.empty();
}

bool StagingFile::CopyToStdout(std::string& error) const
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = SystemErrorText(errno);
        return false;
    }
    UseBinaryMode(stdout);
    std::vector<uint8_t> buffer(size_t(1) << 16);
    bool written = true;
    for (size_t got; written && (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;)
        written = std::fwrite(buffer.data(), 1, got, stdout) == got;
    const bool readFailed = std::ferror(file) != 0;
    std::fclose(file);
    if (readFailed) {
        error = "cannot read " + path + " back";
        return false;
    }
    written = written && std::fflush(stdout) == 0;
    if (!written)
        error = SystemErrorText(errno);
    return written;
}

#include "engine/formats/image_output.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>
#include <vector>

#include "engine/formats/image_input.h"
#include "engine/support/system_error_text.h"

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
    if (stream == nullptr)
        return false;
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

StagingFile::StagingFile(const char* extension)
{
    static std::atomic<unsigned> counter{0};
    std::error_code status;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(status);
    const unsigned stamp = std::random_device{}();
    path = (folder / ("pictool-" + std::to_string(ProcessId()) + "-" + std::to_string(stamp) + "-" +
                      std::to_string(counter++) + extension))
               .string();
}

bool StagingFile::Create(std::string& error)
{
    if (file.OpenScratch(path.c_str()) != nullptr)
        return true;
    error = "cannot stage in " + path + " (" + SystemErrorText(errno) + ")";
    return false;
}

namespace {

// The most bytes an image of another format than PIC (which is held in
// memory, convert/pic_input.h) can need of a stream: its samples at 4
// channels of 8 bytes (double TIFF) for `maxPixels` pixels, and a few MiB
// of headers and tables.
uint64_t MostBytesNeeded(uint64_t maxPixels)
{
    constexpr uint64_t kMostBytesPerPixel = 32;
    constexpr uint64_t kMostOtherBytes = uint64_t(64) << 20;
    return maxPixels * kMostBytesPerPixel + kMostOtherBytes;
}

} // namespace

bool StagingFile::Write(const uint8_t* bytes, size_t count, std::string& error)
{
    FILE* stream = file.OpenScratch(path.c_str());
    const bool written = stream != nullptr && std::fwrite(bytes, 1, count, stream) == count;
    if (stream != nullptr && file.Commit() == 1 && written)
        return true;
    error = "cannot stage standard input in " + path + " (" + SystemErrorText(errno) + ")";
    return false;
}

bool StagingFile::Fill(ImageInput& input, uint64_t maxPixels, std::string& error)
{
    FILE* stream = file.OpenScratch(path.c_str());
    if (stream == nullptr) {
        error = "cannot stage standard input in " + path + " (" + SystemErrorText(errno) + ")";
        return false;
    }
    std::vector<uint8_t> buffer(size_t(1) << 16);
    uint64_t left = MostBytesNeeded(maxPixels);
    size_t got = input.Read(buffer.data(), size_t(std::min<uint64_t>(buffer.size(), left)));
    bool written = true;
    while (written && got > 0) {
        written = std::fwrite(buffer.data(), 1, got, stream) == got;
        left -= got;
        got = left == 0
                  ? 0
                  : input.Read(buffer.data(), size_t(std::min<uint64_t>(buffer.size(), left)));
    }
    if (!written)
        error = "cannot stage standard input in " + path + " (" + SystemErrorText(errno) + ")";
    const bool closed = file.Commit() == 1;
    if (written && !closed)
        error = "cannot stage standard input in " + path + " (" + SystemErrorText(errno) + ")";
    if (written && closed && input.Failed())
        error = "cannot read standard input (" + SystemErrorText(errno) + ")";
    return error.empty();
}

bool StagingFile::CopyToStdout(std::string& error) const
{
    FILE* copy = std::fopen(path.c_str(), "rb");
    if (copy == nullptr) {
        error = SystemErrorText(errno);
        return false;
    }
    UseBinaryMode(stdout);
    std::vector<uint8_t> buffer(size_t(1) << 16);
    bool written = true;
    for (size_t got; written && (got = std::fread(buffer.data(), 1, buffer.size(), copy)) > 0;)
        written = std::fwrite(buffer.data(), 1, got, stdout) == got;
    const bool readFailed = std::ferror(copy) != 0;
    std::fclose(copy);
    if (readFailed) {
        error = "cannot read " + path + " back";
        return false;
    }
    written = written && std::fflush(stdout) == 0;
    if (!written)
        error = SystemErrorText(errno);
    return written;
}

#include "tools/pictool/formats/image_output.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>
#include <vector>

#include "tools/pictool/formats/image_input.h"
#include "tools/pictool/support/system_error_text.h"

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

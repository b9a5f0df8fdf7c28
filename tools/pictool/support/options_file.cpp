#include "tools/pictool/support/options_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/support/system_error_text.h"
#include "output/atomic_output.h"

int ReadOptionsFile(const std::string& path, OptionsBlock& block, std::string& error)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return 0;
    }
    // One byte more than the block tells a longer file from the block itself.
    uint8_t bytes[kPicOptionsSize + 1] = {};
    const size_t got = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    uint32_t signature = 0;
    std::memcpy(&signature, bytes, sizeof signature);
    if (got != size_t(kPicOptionsSize) || signature != kPicOptionsSignature) {
        error = path + ": not a PIC options block (96 bytes starting CD CC 6C 40)";
        return 0;
    }
    std::memcpy(block.bytes, bytes, sizeof block.bytes);
    return 1;
}

int WriteOptionsFile(const void* block, const std::string& path, std::string& error)
{
    AtomicOutput output;
    FILE* file = output.Open(path.c_str());
    if (file == nullptr) {
        error = "cannot create (" + SystemErrorText(errno) + ")";
        return 0;
    }
    if (std::fwrite(block, 1, kPicOptionsSize, file) != size_t(kPicOptionsSize) ||
        !output.Commit()) {
        error = "cannot write (" + SystemErrorText(errno) + ")";
        return 0;
    }
    return 1;
}

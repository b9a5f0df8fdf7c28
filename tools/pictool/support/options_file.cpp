#include "tools/pictool/support/options_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

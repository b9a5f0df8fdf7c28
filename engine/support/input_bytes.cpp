#include "engine/support/input_bytes.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

// A stream is read in pieces of this size, and a regular file's memory
// grows at least by it.
constexpr size_t kStreamPiece = size_t(1) << 20;

} // namespace

InputBytes::InputBytes() = default;

InputBytes::~InputBytes()
{
    if (ownsFile && file != nullptr)
        std::fclose(file);
}

bool InputBytes::Open(const std::string& name)
{
    path = name;
    if (name == "-") {
        file = stdin;
        UseInputBinaryMode(stdin);
        stream = true;
        return true;
    }
    bool regular = false;
    errno = 0;
    file = OpenInputFile(name.c_str(), regular, knownSize);
    if (file == nullptr) {
        error = errno != 0 ? errno : EIO;
        return false;
    }
    ownsFile = true;
    stream = !regular;
    return true;
}

const uint8_t* InputBytes::Data() const
{
    return memory.Data();
}

bool InputBytes::ReadPiece(size_t want)
{
    if (!memory.Reserve(size + want)) {
        error = ENOMEM;
        return false;
    }
    bool failed = false;
    errno = 0;
    const size_t got = ReadInputFile(file, memory.Data() + size, want, failed);
    if (failed) {
        error = errno != 0 ? errno : EIO;
        return false;
    }
    size += got;
    // Less than asked of a regular file is its end: no second read to see it.
    ended = got == 0 || (!stream && got < want);
    return true;
}

bool InputBytes::ReadUpTo(uint64_t count)
{
    if (count > uint64_t(SIZE_MAX) / 2) {
        error = EFBIG;
        return false;
    }
    while (!ended && size < count) {
        const size_t left = size_t(count) - size;
        if (!ReadPiece(stream ? std::min(left, kStreamPiece) : left))
            return false;
    }
    return true;
}

bool InputBytes::SkipRest(uint64_t& count)
{
    count = 0;
    std::vector<uint8_t> piece(ended ? 0 : size_t(64) << 10);
    while (!ended) {
        bool failed = false;
        errno = 0;
        const size_t got = ReadInputFile(file, piece.data(), piece.size(), failed);
        if (failed) {
            error = errno != 0 ? errno : EIO;
            return false;
        }
        count += got;
        ended = got == 0;
    }
    return true;
}

const std::string& InputBytes::MemoryName()
{
    memoryName = memory.Name(size);
    return memoryName;
}

FILE* InputBytes::TakeFile()
{
    FILE* taken = ownsFile ? file : nullptr;
    ownsFile = false;
    return taken;
}

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <filesystem>
#include <new>

#include "engine/support/input_bytes.h"

FILE* OpenInputFile(const char* path, bool& regular, uint64_t& size)
{
    std::error_code status;
    if (std::filesystem::is_directory(path, status)) {
        errno = EISDIR;
        return nullptr;
    }
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return nullptr;
    regular = std::filesystem::is_regular_file(path, status) && !status;
    const uintmax_t bytes = regular ? std::filesystem::file_size(path, status) : 0;
    size = status ? 0 : uint64_t(bytes);
    return file;
}

size_t ReadInputFile(FILE* file, void* bytes, size_t count, bool& failed)
{
    const size_t got = std::fread(bytes, 1, count, file);
    failed = got < count && std::ferror(file) != 0;
    return got;
}

void UseInputBinaryMode(FILE* file)
{
    _setmode(_fileno(file), _O_BINARY);
}

InputMemory::~InputMemory() = default;

bool InputMemory::Reserve(size_t bytes)
{
    if (bytes <= capacity)
        return true;
    try {
        heap.resize(bytes < capacity * 2 ? capacity * 2 : bytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    data = heap.data();
    capacity = heap.size();
    return true;
}

std::string InputMemory::Name(size_t)
{
    // No memory file here: the driver opens the input by its own name.
    return "";
}

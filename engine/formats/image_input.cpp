#include "engine/formats/image_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/support/input_bytes.h"
#include "engine/support/system_error_text.h"

bool IsStream(const std::string& path)
{
    if (path == "-")
        return true;
    std::error_code status;
    const std::filesystem::file_type type = std::filesystem::status(path, status).type();
    return !status && type != std::filesystem::file_type::regular &&
           type != std::filesystem::file_type::directory &&
           type != std::filesystem::file_type::not_found;
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
    head.resize(kSniffBytes);
    head.resize(std::fread(head.data(), 1, head.size(), file));
    return true;
}

void ImageInput::Adopt(InputBytes& bytes)
{
    path = bytes.Path();
    file = bytes.TakeFile();
    ownsFile = file != nullptr;
    if (file == nullptr)
        file = stdin;
    size = bytes.KnownSize();
    head.assign(bytes.Data(), bytes.Data() + bytes.Size());
}

size_t ImageInput::Read(void* bytes, size_t count)
{
    if (count == 0)
        return 0; // `bytes` may be null
    auto* out = static_cast<uint8_t*>(bytes);
    const size_t fromHead = std::min(count, head.size() - headUsed);
    std::memcpy(out, head.data() + headUsed, fromHead);
    headUsed += fromHead;
    const size_t got = fromHead == count
                           ? count
                           : fromHead + std::fread(out + fromHead, 1, count - fromHead, file);
    position += got;
    return got;
}

bool ImageInput::Seek(uint64_t offset)
{
    if (size == 0 || !SeekFile(file, offset))
        return false;
    headUsed = head.size(); // what follows comes from the file
    position = offset;
    return true;
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

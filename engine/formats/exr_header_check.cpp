#include "engine/formats/exr_header_check.h"

#include <cstdint>
#include <vector>

#include "engine/formats/image_input.h"

namespace {

// The size a value of a fixed-size attribute type has; 0 for other types.
uint64_t FixedExrValueSize(const std::string& type)
{
    static const struct {
        const char* type;
        uint64_t size;
    } sizes[] = {{"box2i", 16},    {"box2f", 16},   {"v2i", 8},
                 {"v2f", 8},       {"v2d", 16},     {"v3i", 12},
                 {"v3f", 12},      {"v3d", 24},     {"int", 4},
                 {"float", 4},     {"double", 8},   {"compression", 1},
                 {"lineOrder", 1}, {"envmap", 1},   {"deepImageState", 1},
                 {"m33f", 36},     {"m44f", 64},    {"m33d", 72},
                 {"m44d", 128},    {"rational", 8}, {"timecode", 8},
                 {"keycode", 28},  {"tiledesc", 9}, {"chromaticities", 32}};
    for (const auto& entry : sizes)
        if (type == entry.type)
            return entry.size;
    return 0;
}

uint32_t LittleEndian32(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

// True when a value whose parts OpenEXR reads by their own counts keeps
// within its size: a channel list (name, 0, 16 bytes, ..., then 0), a
// string vector (32-bit length, bytes, ...) or a preview (width, height,
// 4 bytes a pixel).
bool ExrValueHolds(const std::string& type, const std::vector<uint8_t>& value)
{
    const size_t size = value.size();
    if (type == "chlist") {
        size_t at = 0;
        while (at < size && value[at] != 0) {
            while (at < size && value[at] != 0)
                ++at;
            at += 1 + 16; // the name's zero, then type, linear, reserved, sampling
        }
        return at + 1 == size;
    }
    if (type == "stringvector") {
        size_t at = 0;
        while (at + 4 <= size) {
            const uint64_t length = LittleEndian32(&value[at]);
            if (length > size - at - 4)
                return false;
            at += 4 + size_t(length);
        }
        return at == size;
    }
    if (type == "preview")
        return size >= 8 && uint64_t(LittleEndian32(&value[0])) * LittleEndian32(&value[4]) * 4 ==
                                uint64_t(size - 8);
    return true;
}

} // namespace

// The header, read before OpenEXR reads it: magic, version, then for each
// part a list of attributes (name, 0, type, 0, 32-bit little-endian size,
// value) that ends with an empty name; a multi-part file's list of parts
// ends with an empty header. OpenEXR sizes values from counts inside them
// and reads fixed types without looking at the size field, so a size that
// passes the end of the file or disagrees with the value's own counts
// would have it allocate without bound or lose its place: both are
// refused here.
bool CheckExrHeader(ImageInput& input, std::string& error)
{
    uint8_t start[8];
    const uint64_t fileSize = input.Size();
    if (fileSize == 0 || input.Read(start, 8) != 8) {
        error = "EXR data is cut short (or not a regular file)";
        return false;
    }
    const bool multiPart = (start[5] & 0x10) != 0; // version flags, bit 12
    uint64_t offset = 8;
    const auto readName = [&](std::string& name) {
        name.clear();
        for (int c; (c = input.ReadByte()) != 0;) {
            if (c < 0 || name.size() == 255)
                return false;
            name.push_back(char(c));
        }
        offset += name.size() + 1;
        return true;
    };
    std::string name, type;
    std::vector<uint8_t> value;
    for (int parts = 0; parts < 10000; ++parts) {
        int attributes = 0;
        for (;; ++attributes) {
            uint8_t size[4];
            if (!readName(name) ||
                (!name.empty() && (!readName(type) || input.Read(size, 4) != 4))) {
                error = "EXR header is cut short";
                return false;
            }
            if (name.empty())
                break;
            offset += 4;
            const uint64_t bytes = LittleEndian32(size);
            const uint64_t fixed = FixedExrValueSize(type);
            if (bytes > fileSize - offset || (fixed != 0 && bytes != fixed)) {
                error = "EXR header is corrupt (attribute " + name + " of " +
                        std::to_string(bytes) + " bytes)";
                return false;
            }
            value.resize(size_t(bytes)); // within the file's size
            if (input.Read(value.data(), value.size()) != value.size()) {
                error = "EXR header is cut short";
                return false;
            }
            if (!ExrValueHolds(type, value)) {
                error = "EXR header is corrupt (attribute " + name + ")";
                return false;
            }
            offset += bytes;
        }
        if (!multiPart || attributes == 0)
            return true;
    }
    error = "EXR file has too many parts";
    return false;
}

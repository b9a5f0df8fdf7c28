// OpenEXR files through the OpenEXR library. Read: R, G, B with or without
// A, or Y with or without A, of any channel type (half, float, unsigned
// int), scanlines or tiles, any compression; each sample clamped to [0, 1],
// times 255 and rounded. Written: RGB or RGBA as half floats, value / 255,
// ZIP compression. No colour transform either way. The pixel aspect ratio
// travels as pixelAspectRatio, the comment as the comments attribute.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <half.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "tools/pictool/formats/image_format.h"
#include "tools/pictool/formats/image_input.h"
#include "tools/pictool/formats/image_output.h"
#include "tools/pictool/support/system_error_text.h"

namespace {

// Rows read or written at a time: a ZIP block is 16 scanlines.
constexpr uint32_t kBandRows = 16;

// OpenEXR sizes its tables from the header as it opens a file: a header
// claiming more than PIC holds is refused by the library's own check
// before anything is allocated for it.
void LimitExrSizes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Imf::Header::setMaxImageSize(int(kMaxImageSide), int(kMaxImageSide));
        Imf::Header::setMaxTileSize(int(kMaxImageSide), int(kMaxImageSide));
    });
}

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

std::string CorruptExr(const std::exception& failure)
{
    return std::string("EXR data is corrupt or cut short (") + failure.what() + ")";
}

class ExrSource : public RowSource {
public:
    ExrSource(ImageInput& from, uint64_t limit) : input(from), maxPixels(limit) {}

    bool Start(ImageHeader& header, std::string& error) override
    {
        if (input.Path() == "-") {
            error = "EXR is read from named files only";
            return false;
        }
        LimitExrSizes();
        if (!CheckExrHeader(input, error))
            return false;
        try {
            file = std::make_unique<Imf::InputFile>(input.Path().c_str());
            const Imath::Box2i window = file->header().dataWindow();
            left = window.min.x;
            top = window.min.y;
            const int64_t across = int64_t(window.max.x) - window.min.x + 1;
            const int64_t down = int64_t(window.max.y) - window.min.y + 1;
            if (!CheckImageSize(uint64_t(across > 0 ? across : 0), uint64_t(down > 0 ? down : 0),
                                maxPixels, error))
                return false;
            const Imf::ChannelList& channels = file->header().channels();
            rgb =
                channels.findChannel("R") || channels.findChannel("G") || channels.findChannel("B");
            if (!rgb && !channels.findChannel("Y")) {
                error = "EXR has no R, G, B or Y channel";
                return false;
            }
            header.width = width = uint32_t(across);
            header.height = height = uint32_t(down);
            header.hasAlpha = alpha = channels.findChannel("A") != nullptr;
            header.haveAspect = true;
            header.aspect = file->header().pixelAspectRatio();
            if (Imf::hasComments(file->header())) {
                header.haveComment = true;
                header.comment = Imf::comments(file->header());
            }
            band.resize(size_t(this->width) * kBandRows * 4);
        } catch (const std::exception& failure) {
            error = CorruptExr(failure);
            return false;
        }
        return true;
    }

    bool Row(uint16_t* pixel, std::string& error) override
    {
        if (next >= bandStart + bandRows && !FillBand(next, error))
            return false;
        const float* sample = band.data() + size_t(next - bandStart) * width * 4;
        ++next;
        for (uint32_t x = 0; x < width; ++x, pixel += 4, sample += 4) {
            pixel[0] = uint16_t(FloatTo8(sample[0]) << 8);
            pixel[1] = uint16_t(FloatTo8(sample[rgb ? 1 : 0]) << 8);
            pixel[2] = uint16_t(FloatTo8(sample[rgb ? 2 : 0]) << 8);
            pixel[3] = alpha ? uint16_t(FloatTo8(sample[3]) << 8) : kOpaqueAlpha;
        }
        return true;
    }

private:
    bool FillBand(uint32_t first, std::string& error)
    {
        bandStart = first;
        bandRows = height - first < kBandRows ? height - first : kBandRows;
        const size_t xStride = 4 * sizeof(float);
        const size_t yStride = xStride * width;
        // OpenEXR addresses pixel (x, y) of the data window from the base.
        char* base = reinterpret_cast<char*>(band.data()) -
                     (int64_t(top) + first) * int64_t(yStride) - int64_t(left) * int64_t(xStride);
        Imf::FrameBuffer frame;
        const char* names[4] = {"R", "G", "B", "A"};
        if (!rgb)
            names[0] = "Y";
        for (int c = 0; c < 4; ++c) {
            if (names[c] == nullptr || (!rgb && (c == 1 || c == 2)))
                continue;
            frame.insert(names[c], Imf::Slice(Imf::FLOAT, base + c * sizeof(float), xStride,
                                              yStride, 1, 1, c == 3 ? 1.0 : 0.0));
        }
        try {
            file->setFrameBuffer(frame);
            file->readPixels(top + int(first), top + int(first + bandRows - 1));
        } catch (const std::exception& failure) {
            error = CorruptExr(failure);
            return false;
        }
        return true;
    }

    ImageInput& input;
    uint64_t maxPixels;
    std::unique_ptr<Imf::InputFile> file;
    int left = 0, top = 0;
    uint32_t width = 0, height = 0;
    bool rgb = true, alpha = false;
    std::vector<float> band;
    uint32_t bandStart = 0, bandRows = 0, next = 0;
};

// OpenEXR's output over a FILE* from ImageOutput; a failed write throws,
// with errno kept for the words.
class FileStream : public Imf::OStream {
public:
    FileStream(FILE* to, const char* name) : Imf::OStream(name), file(to) {}

    void write(const char bytes[], int count) override
    {
        if (std::fwrite(bytes, 1, size_t(count), file) != size_t(count))
            throw std::runtime_error("write failed");
    }
    uint64_t tellp() override { return uint64_t(ftello(file)); }
    void seekp(uint64_t position) override
    {
        if (fseeko(file, off_t(position), SEEK_SET) != 0)
            throw std::runtime_error("seek failed");
    }

private:
    FILE* file;
};

class ExrSink : public RowSink {
public:
    explicit ExrSink(const std::string& name) : path(name) {}

    bool Start(const ImageHeader& header, std::string& error) override
    {
        FILE* handle = output.Open(path, error);
        if (handle == nullptr)
            return false;
        width = header.width;
        height = header.height;
        alpha = header.hasAlpha;
        try {
            stream = std::make_unique<FileStream>(handle, path.c_str());
            Imf::Header exr(int(width), int(height), header.haveAspect ? header.aspect : 1.0f);
            exr.compression() = Imf::ZIP_COMPRESSION;
            for (const char* name : {"R", "G", "B", "A"})
                if (alpha || std::strcmp(name, "A") != 0)
                    exr.channels().insert(name, Imf::Channel(Imf::HALF));
            if (header.haveComment && !header.comment.empty())
                Imf::addComments(exr, header.comment);
            errno = 0;
            file = std::make_unique<Imf::OutputFile>(*stream, exr);
        } catch (const std::exception& failure) {
            return Fail(failure, error);
        }
        band.resize(size_t(width) * kBandRows * 4);
        return true;
    }

    bool Row(const uint16_t* pixel, std::string& error) override
    {
        half* out = band.data() + size_t(next - bandStart) * width * 4;
        for (uint32_t x = 0; x < width; ++x, pixel += 4, out += 4)
            for (int c = 0; c < 4; ++c)
                out[c] = half(float(pixel[c] >> 8) / 255.0f);
        ++next;
        if (next - bandStart < kBandRows && next < height)
            return true;
        const size_t xStride = 4 * sizeof(half);
        const size_t yStride = xStride * width;
        char* base = reinterpret_cast<char*>(band.data()) - int64_t(bandStart) * int64_t(yStride);
        Imf::FrameBuffer frame;
        const char* names[4] = {"R", "G", "B", "A"};
        for (int c = 0; c < (alpha ? 4 : 3); ++c)
            frame.insert(names[c],
                         Imf::Slice(Imf::HALF, base + c * sizeof(half), xStride, yStride));
        try {
            errno = 0;
            file->setFrameBuffer(frame);
            file->writePixels(int(next - bandStart));
        } catch (const std::exception& failure) {
            return Fail(failure, error);
        }
        bandStart = next;
        return true;
    }

    bool Finish(std::string& error) override
    {
        try {
            errno = 0;
            file.reset(); // writes the line offsets
        } catch (const std::exception& failure) {
            file.release(); // its destructor threw part way; nothing to keep
            Fail(failure, error);
        }
        return output.Close(!failed, error);
    }

private:
    bool Fail(const std::exception& failure, std::string& error)
    {
        failed = true;
        error = errno != 0 ? SystemErrorText(errno) : std::string("EXR error: ") + failure.what();
        return false;
    }

    std::string path;
    ImageOutput output;
    std::unique_ptr<FileStream> stream;
    std::unique_ptr<Imf::OutputFile> file;
    uint32_t width = 0, height = 0;
    bool alpha = false;
    std::vector<half> band;
    uint32_t bandStart = 0, next = 0;
    bool failed = false;
};

bool SniffExr(const uint8_t* head, size_t count)
{
    return count >= 4 && head[0] == 0x76 && head[1] == 0x2F && head[2] == 0x31 && head[3] == 0x01;
}

std::unique_ptr<RowSource> NewExrReader(ImageInput& input, uint64_t maxPixels)
{
    return std::make_unique<ExrSource>(input, maxPixels);
}

std::unique_ptr<RowSink> NewExrWriter(const std::string& path, const WriteSettings&)
{
    return std::make_unique<ExrSink>(path);
}

} // namespace

extern const ImageFormat kExrFormat = {
    "EXR",
    "exr",
    SniffExr,
    NewExrReader,
    NewExrWriter,
    false,
    true,
    "RGB, RGBA, Y, YA; half, float or uint; scanlines or tiles;\n"
    "           pixelAspectRatio, comments",
    "RGB or RGBA, half float, value / 255, ZIP; pixelAspectRatio,\n"
    "           comments",
};

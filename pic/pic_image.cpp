#include "pic/pic_image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "pic/byte_sink.h"
#include "pic/byte_writers.h"
#include "pic/pic_image_rows.h"
#include "pic/rle_codec.h"

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

// The rows of `image.facts`, standing at the first row's data: checked as
// CheckPicRows checks them, and kept as the driver loads them.
void DecodeRows(PicByteSource& source, PicImage& image)
{
    PicImageFacts& facts = image.facts;
    const size_t rowBytes = size_t(facts.width) * size_t(facts.Channels());
    PicImageRows rows(facts.packets, facts.width, facts.Channels());
    PicRowsCheck& check = facts.rows;
    uint32_t y = 0;
    for (; y < facts.height; ++y) {
        const uint64_t offset = source.Position();
        const PicRowStatus status = rows.Decode(source, image.pixels.get() + y * rowBytes);
        if (!NotePicImageRow(check, y, offset, status, source.WentShort()))
            break;
    }
    if (y < facts.height)
        std::memset(image.pixels.get() + y * rowBytes, 0, (facts.height - y) * rowBytes);
    if (check.damaged)
        return;
    while (source.Fill(PicByteSource::kBufferSize) != 0) {
        check.trailingBytes += source.Buffered();
        source.Skip(source.Buffered());
    }
}

const char* TypeName(uint8_t type)
{
    return type == kPacketRaw ? "raw" : type == kPacketPureRunLength ? "pure" : "mixed";
}

class SinkOutput : public PicOutput {
public:
    explicit SinkOutput(FILE* file) : sink(file) {}
    bool Put(const uint8_t* bytes, size_t count) override
    {
        sink.Write(bytes, count);
        return sink.Ok() == 1;
    }
    bool Flush() { return sink.Flush() == 1; }

private:
    PicByteSink sink;
};

//   header (104 bytes) | colour packet | alpha packet (RGBA only)
constexpr size_t kWrittenHeaderMax = size_t(kPicHeaderSize) + 8;

size_t ComposeHeader(uint8_t* out, uint32_t width, uint32_t height, bool alpha,
                     const PicWriteOptions& options)
{
    uint32_t ratioBits;
    std::memcpy(&ratioBits, &options.aspect, sizeof ratioBits);
    StoreBigEndian32(out, kPicMagic);
    StoreBigEndian32(out + 4, kPicVersionBits);
    std::memcpy(out + 8, options.comment, kPicCommentSize);
    std::memcpy(out + 88, "PICT", 4);
    StoreBigEndian16(out + 92, width);
    StoreBigEndian16(out + 94, height);
    StoreBigEndian32(out + 96, ratioBits);
    StoreBigEndian16(out + 100, 3);
    StoreBigEndian16(out + 102, 0);
    const uint8_t type = options.compressed ? kPacketMixedRunLength : kPacketRaw;
    const uint8_t colour[4] = {uint8_t(alpha ? 1 : 0), 8, type, kChannelRgb};
    std::memcpy(out + kPicHeaderSize, colour, 4);
    if (!alpha)
        return size_t(kPicHeaderSize) + 4;
    const uint8_t alphaPacket[4] = {0, 8, type, kChannelAlpha};
    std::memcpy(out + kPicHeaderSize + 4, alphaPacket, 4);
    return kWrittenHeaderMax;
}

} // namespace

bool PicImageFacts::Alpha() const
{
    for (const PicChannelPacket& packet : packets) {
        if ((packet.channel & kChannelAlpha) != 0)
            return true;
    }
    return false;
}

PicImage ReadPicImage(PicByteSource& source, bool decode, uint64_t maxPixels)
{
    PicImage image;
    PicImageFacts& facts = image.facts;
    try {
        PicHeader header;
        facts.headerStatus = ReadPicHeader(source, header, facts.packets);
        if (facts.headerStatus != PicHeaderStatus::Read) {
            facts.status = PicImageStatus::BadHeader;
            return image;
        }
        facts.width = header.Width();
        facts.height = header.Height();
        std::memcpy(facts.comment, header.comment, kPicCommentSize);
        facts.aspect = header.ratio;
        if (!decode) {
            facts.rows = CheckPicRows(source, facts.packets, facts.width, facts.height);
            if (facts.Pixels() == 0)
                facts.status = PicImageStatus::NoPixels;
            return image;
        }
        // Both sides are at most 65535: the product fits 32 bits, the bytes 64.
        const uint64_t pixels = uint64_t(facts.width) * facts.height;
        const uint64_t bytes = pixels * uint64_t(facts.Channels());
        if (pixels > maxPixels || bytes > uint64_t(SIZE_MAX)) {
            facts.status = PicImageStatus::TooLarge;
            return image;
        }
        // Left unset: every row is stored or zeroed by DecodeRows.
        image.pixels.reset(new uint8_t[size_t(bytes)]);
        DecodeRows(source, image);
    } catch (const std::bad_alloc&) {
        image.pixels.reset();
        facts.status = PicImageStatus::NoMemory;
    }
    return image;
}

PicImage ReadPicImageFile(const char* path, bool decode, uint64_t maxPixels)
{
    // A folder opens for reading on some systems and fails at its first read.
    std::error_code status;
    if (std::filesystem::is_directory(path, status)) {
        PicImage image;
        image.facts.status = PicImageStatus::CannotOpen;
        image.facts.openErrno = EISDIR;
        return image;
    }
    errno = 0;
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        PicImage image;
        image.facts.status = PicImageStatus::CannotOpen;
        image.facts.openErrno = errno;
        return image;
    }
    try {
        PicByteSource source(file.get());
        return ReadPicImage(source, decode, maxPixels);
    } catch (const std::bad_alloc&) {
        PicImage image;
        image.facts.status = PicImageStatus::NoMemory;
        return image;
    }
}

PicImage ReadPicImageMemory(const uint8_t* data, size_t size, bool decode, uint64_t maxPixels)
{
    PicByteSource source(data, size);
    return ReadPicImage(source, decode, maxPixels);
}

std::string PicDamageText(const PicImageFacts& facts)
{
    const PicDamage& damage = facts.rows.damage;
    return std::string(PicRowStatusText(damage.reason)) + " in row " + std::to_string(damage.row) +
           " of " + std::to_string(facts.height) + " (offset " + std::to_string(damage.offset) +
           ")";
}

std::string PicStatusText(const PicImageFacts& facts)
{
    switch (facts.status) {
    case PicImageStatus::Ok:
        break;
    case PicImageStatus::CannotOpen: {
        std::string text = facts.openErrno != 0 ? std::strerror(facts.openErrno) : "cannot open";
        if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
            text[0] = char(text[0] - 'A' + 'a');
        return text;
    }
    case PicImageStatus::BadHeader:
        return PicHeaderStatusText(facts.headerStatus);
    case PicImageStatus::NoPixels:
        return "no pixels: " + std::to_string(facts.width) + " x " + std::to_string(facts.height);
    case PicImageStatus::TooLarge:
        return "image is " + std::to_string(facts.width) + " x " + std::to_string(facts.height) +
               ", more pixels than the limit";
    case PicImageStatus::NoMemory:
        return "out of memory";
    }
    return "";
}

std::string PicPacketsText(const std::vector<PicChannelPacket>& packets)
{
    std::string text;
    for (const PicChannelPacket& packet : packets) {
        text += (text.empty() ? "" : " + ") + std::string(TypeName(packet.type)) + " ";
        const char* const letters = "RGBA";
        for (int channel = 0; channel < 4; ++channel) {
            if ((packet.channel & (0x80 >> channel)) != 0)
                text += letters[channel];
        }
    }
    return text;
}

PicWriteResult WritePicImage(PicOutput& output, const uint8_t* pixels, uint32_t width,
                             uint32_t height, int channels, size_t rowStride,
                             const PicWriteOptions& options)
{
    if (width > uint32_t(kPicMaxSide) || height > uint32_t(kPicMaxSide) ||
        (channels != 3 && channels != 4))
        return PicWriteResult::TooLarge;
    const bool alpha = channels == 4;
    const int pixelCount = int(width); // <= 32767
    // Per row: four planes (compressed) or the raw row, then the encoded row.
    const size_t planeBytes = 4 * size_t(width);
    const size_t encodedBytes = MaxEncodedRgbRow(pixelCount) + MaxEncodedChannelRow(pixelCount);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[planeBytes + encodedBytes + 1]);
    if (buffer == nullptr)
        return PicWriteResult::NoMemory;

    uint8_t header[kWrittenHeaderMax];
    if (!output.Put(header, ComposeHeader(header, width, height, alpha, options)))
        return PicWriteResult::WriteFailed;
    uint8_t* red = buffer.get();
    uint8_t* green = red + width;
    uint8_t* blue = green + width;
    uint8_t* alphaPlane = blue + width;
    uint8_t* encoded = red + planeBytes;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels + size_t(y) * rowStride;
        if (!options.compressed && !alpha) {
            if (!output.Put(row, 3 * size_t(width)))
                return PicWriteResult::WriteFailed;
            continue;
        }
        if (!options.compressed) {
            // Interleaved red, green, blue, then the row's alpha bytes.
            uint8_t* alphaBytes = red + 3 * size_t(width);
            for (size_t x = 0; x < width; ++x) {
                std::memcpy(red + 3 * x, row + 4 * x, 3);
                alphaBytes[x] = row[4 * x + 3];
            }
            if (!output.Put(red, planeBytes))
                return PicWriteResult::WriteFailed;
            continue;
        }
        const size_t step = size_t(channels);
        for (size_t x = 0; x < width; ++x) {
            red[x] = row[x * step];
            green[x] = row[x * step + 1];
            blue[x] = row[x * step + 2];
            if (alpha)
                alphaPlane[x] = row[x * step + 3];
        }
        ptrdiff_t size = EncodeRgbRow(encoded, red, green, blue, pixelCount);
        if (alpha)
            size += EncodeChannelRow(encoded + size, alphaPlane, pixelCount);
        if (!output.Put(encoded, size_t(size)))
            return PicWriteResult::WriteFailed;
    }
    return PicWriteResult::Written;
}

PicWriteResult WritePicImage(FILE* file, const uint8_t* pixels, uint32_t width, uint32_t height,
                             int channels, size_t rowStride, const PicWriteOptions& options)
{
    try {
        SinkOutput output(file);
        const PicWriteResult result =
            WritePicImage(output, pixels, width, height, channels, rowStride, options);
        const bool flushed = output.Flush();
        if (result != PicWriteResult::Written)
            return result;
        return flushed ? PicWriteResult::Written : PicWriteResult::WriteFailed;
    } catch (const std::bad_alloc&) {
        return PicWriteResult::NoMemory;
    }
}

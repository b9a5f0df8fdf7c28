#include "pic/pic_image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

// Interleaves the row just read into `out` (width * channels bytes).
void StoreRow(const PicRowReader& rows, int channels, const uint8_t* zeros, uint8_t* out)
{
    const size_t width = rows.Width();
    const uint8_t* source[4];
    size_t stride[4];
    for (int c = 0; c < 4; ++c) {
        source[c] = rows.Channel(c) != nullptr ? rows.Channel(c) : zeros;
        stride[c] = rows.Channel(c) != nullptr ? size_t(rows.Stride(c)) : 1;
    }
    const uint8_t* red = source[kRowRed];
    if (stride[kRowRed] == 3 && source[kRowGreen] == red + 1 && source[kRowBlue] == red + 2) {
        // Raw colour rows lie in the reader as the output holds them.
        if (channels == 3) {
            std::memcpy(out, red, 3 * width);
            return;
        }
        const uint8_t* alpha = source[kRowAlpha];
        const size_t alphaStride = stride[kRowAlpha];
        for (size_t x = 0; x < width; ++x) {
            std::memcpy(out + 4 * x, red + 3 * x, 3);
            out[4 * x + 3] = alpha[x * alphaStride];
        }
        return;
    }
    if (stride[0] == 1 && stride[1] == 1 && stride[2] == 1 && stride[3] == 1) {
        const uint8_t* green = source[kRowGreen];
        const uint8_t* blue = source[kRowBlue];
        if (channels == 3) {
            for (size_t x = 0; x < width; ++x) {
                out[3 * x] = red[x];
                out[3 * x + 1] = green[x];
                out[3 * x + 2] = blue[x];
            }
        } else {
            const uint8_t* alpha = source[kRowAlpha];
            for (size_t x = 0; x < width; ++x) {
                out[4 * x] = red[x];
                out[4 * x + 1] = green[x];
                out[4 * x + 2] = blue[x];
                out[4 * x + 3] = alpha[x];
            }
        }
        return;
    }
    for (size_t x = 0; x < width; ++x) {
        for (int c = 0; c < channels; ++c)
            out[x * size_t(channels) + size_t(c)] = source[c][x * stride[c]];
    }
}

// The rows of `image.facts`, standing at the first row's data: checked as
// CheckPicRows checks them, and kept as the driver loads them.
void DecodeRows(PicByteSource& source, PicImage& image)
{
    PicImageFacts& facts = image.facts;
    const size_t channels = size_t(facts.Channels());
    const size_t rowBytes = size_t(facts.width) * channels;
    PicRowReader reader(facts.packets, facts.width);
    std::unique_ptr<uint8_t[]> zeros(new uint8_t[size_t(facts.width) + 1]());
    PicRowsCheck& check = facts.rows;
    uint32_t y = 0;
    for (; y < facts.height; ++y) {
        const uint64_t offset = source.Position();
        source.ClearShort();
        const PicRowStatus status = reader.ReadRow(source);
        if (status != PicRowStatus::Whole || source.WentShort()) {
            if (!check.damaged) {
                check.damaged = true;
                check.damage =
                    PicDamage{y, offset, source.WentShort() ? PicRowStatus::CutShort : status};
            }
            // A run-length row that fails ends the picture; raw bytes past
            // the end of the file read as 255 and the rows go on.
            if (status != PicRowStatus::Whole)
                break;
        } else if (!check.damaged) {
            ++check.rowsComplete;
        }
        StoreRow(reader, int(channels), zeros.get(), image.pixels.get() + y * rowBytes);
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
            if ((packet.channel & kChannelMasks[channel]) != 0)
                text += letters[channel];
        }
    }
    return text;
}

#include "pic/pic_image.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "pic/pic_image_rows.h"

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

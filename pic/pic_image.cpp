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

// Where decoded rows go: the picture's, at its depth, or one scratch row
// when the rows are only checked.
class RowTarget {
public:
    RowTarget(PicImage& image, const PicImageRows& rows)
        : eight(image.pixels.get()), sixteen(image.pixels16.get()), values(rows.RowBytes())
    {
        if (eight == nullptr && sixteen == nullptr)
            scratch.reset(new uint8_t[values + 1]);
    }

    PicRowStatus Decode(PicImageRows& rows, PicByteSource& source, uint32_t y)
    {
        if (sixteen != nullptr)
            return rows.Decode(source, sixteen + y * values);
        return rows.Decode(source, eight != nullptr ? eight + y * values : scratch.get());
    }

    // Rows first to last - 1 become 0: transparent black.
    void Clear(uint32_t first, uint32_t last)
    {
        const size_t count = (last - first) * values;
        if (sixteen != nullptr)
            std::memset(sixteen + first * values, 0, count * sizeof *sixteen);
        else if (eight != nullptr)
            std::memset(eight + first * values, 0, count);
    }

private:
    uint8_t* eight;
    uint16_t* sixteen;
    size_t values;
    std::unique_ptr<uint8_t[]> scratch;
};

// Decodes the rows salvage found; a row that does not decode after all ends
// its stretch, and what is lost is told from what was stored.
void DecodeSalvaged(const uint8_t* rowData, size_t size, PicSalvagePlan& plan, PicImageRows& rows,
                    RowTarget& target)
{
    uint32_t recovered = 0;
    for (PicSalvagedRows& found : plan.found) {
        PicByteSource source(rowData + found.offset, size - found.offset);
        uint32_t count = 0;
        while (count < found.count &&
               target.Decode(rows, source, found.row + count) == PicRowStatus::Whole &&
               !source.WentShort())
            ++count;
        target.Clear(found.row + count, found.row + found.count);
        found.count = count;
        recovered += count;
    }
    plan.salvage.unplacedRows += plan.salvage.recoveredRows - recovered;
    plan.salvage.recoveredRows = recovered;
}

// The rows of `image.facts`, from `source` standing at the first row's data:
// checked as CheckPicRows checks them, and kept (or, checking, read into a
// scratch row) as the driver loads them. `rowData`, when not null, holds the
// `size` bytes the source reads, at `base` in the file: what salvage
// searches.
void DecodeRows(PicByteSource& source, PicImage& image, const uint8_t* rowData, size_t size,
                uint64_t base)
{
    PicImageFacts& facts = image.facts;
    PicImageRows rows(facts.packets, facts.width, facts.Channels());
    RowTarget target(image, rows);
    PicRowsCheck& check = facts.rows;
    uint32_t y = 0;
    uint64_t offset = 0;
    for (; y < facts.height; ++y) {
        offset = source.Position();
        const PicRowStatus status = target.Decode(rows, source, y);
        if (!NotePicImageRow(check, y, base + offset, status, source.WentShort()))
            break;
    }
    if (y < facts.height)
        target.Clear(y, facts.height);
    if (y < facts.height && rowData != nullptr) {
        // Row y ended the picture (the damage noted may be an earlier row
        // cut short). Rows before it that salvage does not keep were read
        // out of step.
        PicSalvagePlan plan =
            PlanPicSalvage(rowData, size, facts.packets, facts.width, facts.height, y);
        target.Clear(plan.salvage.plainRows, y);
        DecodeSalvaged(rowData, size, plan, rows, target);
        plan.salvage.lostRows = PicLostRows(plan.found, plan.salvage.plainRows, facts.height);
        facts.salvaged = true;
        facts.salvage = std::move(plan.salvage);
    }
    if (check.damaged)
        return;
    while (source.Fill(PicByteSource::kBufferSize) != 0) {
        check.trailingBytes += source.Buffered();
        source.Skip(source.Buffered());
    }
}

// The rest of `source`, read into memory.
std::vector<uint8_t> ReadRest(PicByteSource& source)
{
    std::vector<uint8_t> rest;
    while (source.Fill(PicByteSource::kBufferSize) != 0) {
        rest.insert(rest.end(), source.Data(), source.Data() + source.Buffered());
        source.Skip(source.Buffered());
    }
    return rest;
}

const char* TypeName(uint8_t type)
{
    return type == kPacketRaw ? "raw" : type == kPacketPureRunLength ? "pure" : "mixed";
}

// Reads as ReadPicImage does; `whole`, when not null, holds every byte the
// source reads from its position 0, so that salvage need not copy them.
PicImage ReadImage(PicByteSource& source, const PicReadRequest& request, const uint8_t* whole,
                   size_t wholeSize)
{
    PicImage image;
    PicImageFacts& facts = image.facts;
    try {
        facts = ReadPicImageHeader(source);
        if (facts.status == PicImageStatus::BadHeader)
            return image;
        if (!request.decode && !request.salvage) {
            facts.rows = CheckPicRows(source, facts.packets, facts.width, facts.height);
            if (facts.Pixels() == 0)
                facts.status = PicImageStatus::NoPixels;
            return image;
        }
        if (request.decode) {
            image.bits = request.depth == PicDepth::Stored ? facts.Bits() : 8;
            // Both sides are at most 65535: the product fits 32 bits, the bytes 64.
            const uint64_t pixels = uint64_t(facts.width) * facts.height;
            const uint64_t bytes = pixels * uint64_t(facts.Channels()) * uint64_t(image.bits / 8);
            if (pixels > request.maxPixels || bytes > uint64_t(SIZE_MAX)) {
                facts.status = PicImageStatus::TooLarge;
                return image;
            }
            // Left unset: every row is stored or zeroed by DecodeRows.
            const size_t values = size_t(pixels) * size_t(facts.Channels());
            if (image.bits == 16)
                image.pixels16.reset(new uint16_t[values]);
            else
                image.pixels.reset(new uint8_t[values]);
        }
        if (!request.salvage) {
            DecodeRows(source, image, nullptr, 0, 0);
        } else if (whole != nullptr) {
            const size_t start = size_t(source.Position());
            PicByteSource rows(whole + start, wholeSize - start);
            DecodeRows(rows, image, whole + start, wholeSize - start, start);
        } else {
            const uint64_t start = source.Position();
            const std::vector<uint8_t> rest = ReadRest(source);
            PicByteSource memory(rest.data(), rest.size());
            DecodeRows(memory, image, rest.data(), rest.size(), start);
        }
        if (!request.decode && facts.Pixels() == 0)
            facts.status = PicImageStatus::NoPixels;
    } catch (const std::bad_alloc&) {
        image.pixels.reset();
        image.pixels16.reset();
        facts.status = PicImageStatus::NoMemory;
    }
    return image;
}

PicReadRequest RequestOf(bool decode, uint64_t maxPixels)
{
    PicReadRequest request;
    request.decode = decode;
    request.maxPixels = maxPixels;
    return request;
}

} // namespace

PicImageFacts ReadPicImageHeader(PicByteSource& source)
{
    PicImageFacts facts;
    PicHeader header;
    facts.headerStatus = ReadPicHeader(source, header, facts.packets);
    if (facts.headerStatus != PicHeaderStatus::Read) {
        facts.status = PicImageStatus::BadHeader;
        return facts;
    }
    facts.width = header.Width();
    facts.height = header.Height();
    std::memcpy(facts.comment, header.comment, kPicCommentSize);
    facts.aspect = header.ratio;
    return facts;
}

bool PicImageFacts::Alpha() const
{
    for (const PicChannelPacket& packet : packets) {
        if ((packet.channel & kChannelAlpha) != 0)
            return true;
    }
    return false;
}

PicImage ReadPicImage(PicByteSource& source, const PicReadRequest& request)
{
    return ReadImage(source, request, nullptr, 0);
}

PicImage ReadPicImage(PicByteSource& source, bool decode, uint64_t maxPixels)
{
    return ReadPicImage(source, RequestOf(decode, maxPixels));
}

PicImage ReadPicImageFile(const char* path, const PicReadRequest& request)
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
        return ReadPicImage(source, request);
    } catch (const std::bad_alloc&) {
        PicImage image;
        image.facts.status = PicImageStatus::NoMemory;
        return image;
    }
}

PicImage ReadPicImageFile(const char* path, bool decode, uint64_t maxPixels)
{
    return ReadPicImageFile(path, RequestOf(decode, maxPixels));
}

PicImage ReadPicImageMemory(const uint8_t* data, size_t size, const PicReadRequest& request)
{
    PicByteSource source(data, size);
    return ReadImage(source, request, data, size);
}

PicImage ReadPicImageMemory(const uint8_t* data, size_t size, bool decode, uint64_t maxPixels)
{
    return ReadPicImageMemory(data, size, RequestOf(decode, maxPixels));
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

std::string PicSalvageText(const PicImageFacts& facts)
{
    if (!facts.salvaged)
        return "";
    const PicSalvage& salvage = facts.salvage;
    const std::vector<PicRowRange>& lost = salvage.lostRows;
    std::string text;
    for (size_t index = 0; index < lost.size(); ++index) {
        if (index != 0)
            text += index + 1 == lost.size() ? " and " : ", ";
        text += std::to_string(lost[index].first);
        if (lost[index].last != lost[index].first)
            text += "-" + std::to_string(lost[index].last);
    }
    const bool oneRow = lost.size() == 1 && lost[0].first == lost[0].last;
    text = lost.empty() ? "no rows lost" : (oneRow ? "row " : "rows ") + text + " lost";
    const auto rows = [](uint32_t count) {
        return std::to_string(count) + (count == 1 ? " row" : " rows");
    };
    if (salvage.recoveredRows == 0)
        text += ", no rows found after the damage";
    else
        text += ", " + rows(salvage.recoveredRows) + " found again after the damage";
    if (salvage.unplacedRows != 0)
        text += ", " + rows(salvage.unplacedRows) + " found but not placed";
    if (salvage.searchStopped)
        text += ", search stopped at its limit";
    return text;
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
        if (packet.size == kPacketBits16)
            text += "16";
    }
    return text;
}

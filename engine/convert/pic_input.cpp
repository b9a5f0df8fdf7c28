#include "engine/convert/pic_input.h"

#include <algorithm>

#include "pic/byte_source.h"
#include "pic/pic_row_reader.h"

namespace {

// A stream's first piece: the header and the longest packet chain. A
// regular file's: all of it where it fits (a byte more than its size, so
// that the one read meets the end), and never less than a stream's, for
// files whose size the system does not know (/proc).
uint64_t FirstPiece(const InputBytes& bytes)
{
    const uint64_t header = uint64_t(kPicHeaderSize) + sizeof(PicChannelPacket) * kMaxPicPackets;
    if (bytes.IsStream())
        return header;
    return std::max(header, std::min(bytes.KnownSize() + 1, kPicFirstPiece));
}

void ReadHeader(PicInput& input)
{
    PicByteSource source(input.bytes.Data(), input.bytes.Size());
    input.packets.clear();
    input.headerStatus = ReadPicHeader(source, input.header, input.packets);
}

} // namespace

uint64_t PicBytesNeeded(const uint8_t* start, size_t count, uint64_t maxPixels)
{
    PicByteSource source(start, count);
    PicHeader header{};
    std::vector<PicChannelPacket> packets;
    if (ReadPicHeader(source, header, packets) != PicHeaderStatus::Read ||
        uint64_t(header.Width()) * header.Height() > maxPixels)
        return count;
    return uint64_t(kPicHeaderSize) + sizeof(PicChannelPacket) * packets.size() +
           PicMostRowBytes(packets, header.Width(), header.Height());
}

bool ReadRestOfPicInput(uint64_t maxPixels, PicInput& input)
{
    InputBytes& bytes = input.bytes;
    if (!bytes.ReadUpTo(FirstPiece(bytes)) ||
        !bytes.ReadUpTo(PicBytesNeeded(bytes.Data(), bytes.Size(), maxPixels))) {
        input.readFailed = true;
        return false;
    }
    ReadHeader(input);
    return true;
}

bool ReadPicInputHeader(const std::string& path, PicInput& input)
{
    input.opened = input.bytes.Open(path);
    if (!input.opened)
        return false;
    if (!input.bytes.ReadUpTo(uint64_t(kPicHeaderSize) +
                              sizeof(PicChannelPacket) * kMaxPicPackets)) {
        input.readFailed = true;
        return false;
    }
    ReadHeader(input);
    return true;
}

bool ReadPicInput(const std::string& path, uint64_t maxPixels, PicInput& input)
{
    input.opened = input.bytes.Open(path);
    return input.opened && ReadRestOfPicInput(maxPixels, input);
}

bool ReadPicInput(const std::string& path, uint64_t maxPixels, PicInput& input, uint64_t& trailing)
{
    trailing = 0;
    if (!ReadPicInput(path, maxPixels, input))
        return false;
    if (input.bytes.SkipRest(trailing))
        return true;
    input.readFailed = true;
    return false;
}

BMMRES PicInputFailureResult(const PicInput& input)
{
    if (!input.opened)
        return kResultSystemError;
    // What was read before the failure: a header that reads was passed.
    PicByteSource source(input.bytes.Data(), input.bytes.Size());
    PicHeader header{};
    std::vector<PicChannelPacket> packets;
    return ReadPicHeader(source, header, packets) == PicHeaderStatus::Read ? kResultSystemError
                                                                           : kResultBadHeader;
}

#include "pic/pic_header.h"

#include <cstring>

#include "pic/byte_source.h"
#include "pic/byte_writers.h"

namespace {

void SwapField32(void* field)
{
    uint8_t bytes[4];
    std::memcpy(bytes, field, 4);
    const uint32_t value = LoadBigEndian32(bytes);
    std::memcpy(field, &value, 4);
}

void SwapField16(void* field)
{
    uint8_t bytes[2];
    std::memcpy(bytes, field, 2);
    const uint16_t value = LoadBigEndian16(bytes);
    std::memcpy(field, &value, 2);
}

} // namespace

void SwapHeaderFields(PicHeader& header)
{
    SwapField32(&header.magic);
    SwapField32(&header.version);
    SwapField16(&header.width);
    SwapField16(&header.height);
    SwapField32(&header.ratio);
    SwapField16(&header.fields);
    SwapField16(&header.pad);
}

bool PicMagicAgrees(const uint8_t* bytes, size_t count)
{
    for (size_t index = 0; index < count && index < 4; ++index) {
        if (bytes[index] != uint8_t(kPicMagic >> (24 - 8 * index)))
            return false;
    }
    return true;
}

int PacketPixelBytes(const PicChannelPacket& packet)
{
    int count = 0;
    for (const uint8_t bit : kChannelMasks)
        count += (packet.channel & bit) != 0 ? 1 : 0;
    return packet.size == kPacketBits16 ? 2 * count : count;
}

void PicChannelBits(const std::vector<PicChannelPacket>& packets, uint8_t bits[4])
{
    for (int channel = 0; channel < 4; ++channel)
        bits[channel] = 0;
    for (const PicChannelPacket& packet : packets) {
        for (int channel = 0; channel < 4; ++channel) {
            if ((packet.channel & kChannelMasks[channel]) != 0)
                bits[channel] = packet.size;
        }
    }
}

int PicChainBits(const std::vector<PicChannelPacket>& packets)
{
    uint8_t bits[4];
    PicChannelBits(packets, bits);
    for (const uint8_t size : bits) {
        if (size == kPacketBits16)
            return 16;
    }
    return 8;
}

namespace {

bool PacketIsRead(const PicChannelPacket& packet)
{
    return (packet.size == kPacketBits8 || packet.size == kPacketBits16) &&
           packet.type <= kPacketMixedRunLength && (packet.channel & kChannelBits) != 0;
}

} // namespace

const char* PicHeaderStatusText(PicHeaderStatus status)
{
    switch (status) {
    case PicHeaderStatus::Read:
        return "read";
    case PicHeaderStatus::HeaderCutShort:
        return "file ends inside the header";
    case PicHeaderStatus::BadMagic:
        return "not a PIC file";
    case PicHeaderStatus::PacketsCutShort:
        return "file ends inside the channel packets";
    case PicHeaderStatus::BadPacket:
        return "a channel packet is not understood";
    case PicHeaderStatus::TooManyPackets:
        return "more channel packets than a PIC file has";
    case PicHeaderStatus::ReadFailed:
        return "the file could not be read";
    }
    return "";
}

PicHeaderStatus ReadPicHeader(PicByteSource& source, PicHeader& header,
                              std::vector<PicChannelPacket>& packets)
{
    // A short read is the file's end unless the stream says it failed.
    const auto cutShort = [&](PicHeaderStatus atEnd) {
        return source.ReadFailed() ? PicHeaderStatus::ReadFailed : atEnd;
    };
    const size_t got = source.ReadFilled(reinterpret_cast<uint8_t*>(&header), kPicHeaderSize);
    if (got != size_t(kPicHeaderSize)) {
        // A short file of another kind is not a PIC file rather than a cut one.
        if (!source.ReadFailed() && !PicMagicAgrees(reinterpret_cast<uint8_t*>(&header), got))
            return PicHeaderStatus::BadMagic;
        return cutShort(PicHeaderStatus::HeaderCutShort);
    }
    SwapHeaderFields(header);
    if (header.magic != kPicMagic)
        return PicHeaderStatus::BadMagic;

    std::vector<PicChannelPacket> chain;
    PicChannelPacket packet;
    do {
        if (chain.size() == size_t(kMaxPicPackets))
            return PicHeaderStatus::TooManyPackets;
        if (source.ReadFilled(reinterpret_cast<uint8_t*>(&packet), sizeof packet) != sizeof packet)
            return cutShort(PicHeaderStatus::PacketsCutShort);
        if (!PacketIsRead(packet))
            return PicHeaderStatus::BadPacket;
        chain.push_back(packet);
    } while (packet.chained == 1);
    packets.swap(chain);
    return PicHeaderStatus::Read;
}

void ApplyPacketsToOptions(const std::vector<PicChannelPacket>& packets, int32_t& withAlpha,
                           int32_t& rgbCompressed, int32_t& alphaCompressed)
{
    int32_t sawAlpha = 0;
    for (const PicChannelPacket& packet : packets) {
        const int32_t compressed = packet.type == kPacketMixedRunLength ? 1 : 0;
        if ((packet.channel & kChannelRgb) != 0)
            rgbCompressed = compressed;
        if ((packet.channel & kChannelAlpha) != 0) {
            alphaCompressed = compressed;
            sawAlpha = 1;
        }
    }
    withAlpha = sawAlpha;
}

PicHeaderStatus ReadPicHeader(FILE* file, PicHeader& header, PicChannelPacket& packet,
                              int32_t& withAlpha, int32_t& rgbCompressed, int32_t& alphaCompressed)
{
    // A buffer of one packet: the header is 26 packets long and every read
    // asks for whole packets, so the source never reads past what it hands
    // out and has nothing to seek back. The C stream buffers the file itself.
    static_assert(kPicHeaderSize % sizeof(PicChannelPacket) == 0, "the header is whole packets");
    PicByteSource source(file, sizeof(PicChannelPacket));
    std::vector<PicChannelPacket> packets;
    const PicHeaderStatus status = ReadPicHeader(source, header, packets);
    if (status != PicHeaderStatus::Read)
        return status;
    packet = packets.back();
    ApplyPacketsToOptions(packets, withAlpha, rgbCompressed, alphaCompressed);
    return status;
}

void ComposeHeaderComment(const char* comment, char out[kPicCommentSize])
{
    std::memset(out, 0, kPicCommentSize);
    constexpr size_t prefixLength = sizeof kPicCommentPrefix - 1;
    std::memcpy(out, kPicCommentPrefix, prefixLength);
    if (comment == nullptr)
        return;
    // Byte 79 of the joined text always stays zero.
    const size_t userLength = PicCommentLength(comment);
    const size_t room = size_t(kPicCommentSize) - 1 - prefixLength;
    std::memcpy(out + prefixLength, comment, userLength < room ? userLength : room);
}

size_t PicCommentLength(const char* comment)
{
    size_t length = 0;
    while (length < size_t(kPicCommentSize) && comment[length] != '\0')
        ++length;
    return length;
}

size_t ComposePicHeader(uint8_t (&out)[kPicWrittenHeaderMax], uint32_t width, uint32_t height,
                        bool alpha, const PicWriteOptions& options)
{
    uint32_t ratioBits;
    std::memcpy(&ratioBits, &options.aspect, sizeof ratioBits);
    StoreBigEndian32(out, kPicMagic);
    StoreBigEndian32(out + 4, kPicVersionBits);
    std::memcpy(out + 8, options.comment, kPicCommentSize);
    std::memcpy(out + 88, kPicId, sizeof kPicId);
    StoreBigEndian16(out + 92, width & 0xFFFFu);
    StoreBigEndian16(out + 94, height & 0xFFFFu);
    StoreBigEndian32(out + 96, ratioBits);
    StoreBigEndian16(out + 100, kPicFields);
    StoreBigEndian16(out + 102, 0);
    const uint8_t type = options.compressed ? kPacketMixedRunLength : kPacketRaw;
    const PicChannelPacket packets[2] = {{uint8_t(alpha ? 1 : 0), 8, type, kChannelRgb},
                                         {0, 8, type, kChannelAlpha}};
    const size_t packetBytes = size_t(alpha ? 2 : 1) * sizeof(PicChannelPacket);
    std::memcpy(out + kPicHeaderSize, packets, packetBytes);
    return size_t(kPicHeaderSize) + packetBytes;
}

std::string PicTooLargeText()
{
    return "image wider or higher than " + std::to_string(kPicMaxSide) + " pixels";
}

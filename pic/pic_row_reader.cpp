#include "pic/pic_row_reader.h"

namespace {

bool AnyWidePacket(const std::vector<PicChannelPacket>& packets)
{
    for (const PicChannelPacket& packet : packets) {
        if (packet.size == kPacketBits16)
            return true;
    }
    return false;
}

// Bytes per pixel of the arrays: four channels, their low bytes when some
// packet is 16-bit, and the interleaved row, as wide as the widest pixel.
size_t ArrayBytesPerPixel(bool wide)
{
    return wide ? 16 : 8;
}

} // namespace

PicRowReader::PicRowReader(const std::vector<PicChannelPacket>& packets, uint32_t rowWidth)
    : width(rowWidth),
      bytes(new uint8_t[ArrayBytesPerPixel(AnyWidePacket(packets)) * size_t(rowWidth) + 1]()),
      interleaved(bytes.get() + (AnyWidePacket(packets) ? 8 : 4) * size_t(rowWidth))
{
    // Only the last raw packet of several bytes a pixel keeps its bytes
    // interleaved; an earlier one would be overwritten by it.
    size_t lastInterleaved = packets.size();
    for (size_t index = 0; index < packets.size(); ++index) {
        if (packets[index].type == kPacketRaw && PacketPixelBytes(packets[index]) > 1)
            lastInterleaved = index;
    }
    steps.reserve(packets.size());
    for (size_t index = 0; index < packets.size(); ++index) {
        const PicChannelPacket& packet = packets[index];
        const int valueBytes = packet.size == kPacketBits16 ? 2 : 1;
        Step step{};
        step.type = packet.type;
        step.pixelBytes = PacketPixelBytes(packet);
        step.interleaved = packet.type == kPacketRaw && step.pixelBytes > 1;
        step.keptInterleaved = index == lastInterleaved;
        int slot = 0;
        for (int channel = 0; channel < 4; ++channel) {
            if ((packet.channel & kChannelMasks[channel]) == 0)
                continue;
            uint8_t* const high = bytes.get() + size_t(channel) * width;
            uint8_t* const low = bytes.get() + size_t(4 + channel) * width;
            step.planes[slot] = high;
            if (valueBytes == 2)
                step.planes[slot + 1] = low;
            if (step.keptInterleaved) {
                channels[channel] = interleaved + slot;
                lows[channel] = valueBytes == 2 ? interleaved + slot + 1 : nullptr;
                strides[channel] = step.pixelBytes;
            } else {
                channels[channel] = high;
                lows[channel] = valueBytes == 2 ? low : nullptr;
                strides[channel] = 1;
            }
            slot += valueBytes;
        }
        steps.push_back(step);
    }
}

PicRowStatus PicRowReader::ReadRow(PicByteSource& source)
{
    const int pixels = int(width); // <= 65535
    for (const Step& step : steps) {
        if (step.type == kPacketRaw) {
            if (!step.interleaved) {
                source.ReadFilled(step.planes[0], width);
                continue;
            }
            source.ReadFilled(interleaved, size_t(width) * size_t(step.pixelBytes));
            if (step.keptInterleaved)
                continue;
            for (int slot = 0; slot < step.pixelBytes; ++slot) {
                for (uint32_t x = 0; x < width; ++x)
                    step.planes[slot][x] =
                        interleaved[x * uint32_t(step.pixelBytes) + uint32_t(slot)];
            }
            continue;
        }
        const PicRowStatus status =
            step.type == kPacketMixedRunLength
                ? DecodeMixedRow(source, step.planes, step.pixelBytes, pixels)
                : DecodePureRow(source, step.planes, step.pixelBytes, pixels);
        if (status != PicRowStatus::Whole)
            return status;
    }
    return PicRowStatus::Whole;
}

const char* PicRowStatusText(PicRowStatus status)
{
    switch (status) {
    case PicRowStatus::CutShort:
        return "cut short";
    case PicRowStatus::RunPastEnd:
        return "run past row end";
    case PicRowStatus::ZeroCount:
        return "zero count";
    case PicRowStatus::Whole:
        break;
    }
    return "";
}

PicRowsCheck CheckPicRows(PicByteSource& source, const std::vector<PicChannelPacket>& packets,
                          uint32_t width, uint32_t height)
{
    PicRowsCheck check;
    PicRowReader rows(packets, width);
    for (uint32_t y = 0; y < height; ++y) {
        const uint64_t offset = source.Position();
        source.ClearShort();
        PicRowStatus status = rows.ReadRow(source);
        // Bytes made up past the end of the file make the row cut short,
        // whatever the made-up bytes then did to its decoding.
        if (source.WentShort())
            status = PicRowStatus::CutShort;
        if (status != PicRowStatus::Whole) {
            check.damaged = true;
            check.damage = PicDamage{y, offset, status};
            return check;
        }
        ++check.rowsComplete;
    }
    while (source.Fill(PicByteSource::kBufferSize) != 0) {
        check.trailingBytes += source.Buffered();
        source.Skip(source.Buffered());
    }
    return check;
}

uint64_t PicMostRowBytes(const std::vector<PicChannelPacket>& packets, uint32_t width,
                         uint32_t height)
{
    // At most 64 packets of 4 + 3 bytes a pixel, 65535 pixels a row and 65535
    // rows: below 2^41, no overflow.
    constexpr uint64_t kLongRunBytes = 3;
    uint64_t rowBytes = 0;
    for (const PicChannelPacket& packet : packets)
        rowBytes += uint64_t(width) * (uint64_t(PacketPixelBytes(packet)) +
                                       (packet.type == kPacketRaw ? 0 : kLongRunBytes));
    return rowBytes * height;
}

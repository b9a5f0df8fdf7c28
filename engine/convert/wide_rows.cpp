#include "engine/convert/wide_rows.h"

WideRows::WideRows(const std::vector<PicChannelPacket>& packets)
{
    uint8_t bits[4];
    PicChannelBits(packets, bits);
    for (int c = 0; c < 4; ++c) {
        sixteen = sixteen || bits[c] == kPacketBits16;
        eightBit[c] = bits[c] == kPacketBits8;
    }
}

void WideRows::Widen(uint16_t* channels, size_t pixels) const
{
    for (size_t index = 0; index < pixels; ++index, channels += 4) {
        for (int c = 0; c < 4; ++c) {
            if (eightBit[c])
                channels[c] = uint16_t((channels[c] & 0xFF00) | channels[c] >> 8);
        }
    }
}

void RoundRowTo8Bits(uint16_t* channels, size_t pixels)
{
    for (size_t index = 0; index < pixels * 4; ++index)
        channels[index] = uint16_t(RoundTo8Bits(channels[index]) << 8);
}

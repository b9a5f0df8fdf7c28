// Host pixels of a 16-bit PIC picture. The driver loads a 16-bit channel's
// value as it is and an 8-bit channel's value v as v << 8 (as from every
// 8-bit file), so in a picture whose packets mix the two a value alone does
// not tell its scale. On its way out each row is brought to one scale:
// every 8-bit channel widened to v * 257, which 16-bit outputs keep and
// 8-bit outputs round (RoundTo8Bits) back to v. The rows of an 8-bit
// picture are left as they are: its outputs take the high byte, as ever.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pic/pic_header.h"

class WideRows {
public:
    explicit WideRows(const std::vector<PicChannelPacket>& packets);

    // Some channel is 16-bit: rows are to be widened.
    bool Sixteen() const { return sixteen; }
    // A loaded row (4 channels a pixel) to 16-bit values, in place.
    void Widen(uint16_t* channels, size_t pixels) const;

private:
    bool sixteen = false;
    bool eightBit[4] = {}; // channels whose values are 8-bit, held as v << 8
};

// A row of 16-bit values rounded to 8 bits, each held as v << 8, as the
// rows of an 8-bit picture are: what a PIC output, written 8 bits a channel,
// is given.
void RoundRowTo8Bits(uint16_t* channels, size_t pixels);

// The byte order of PIC files: every multi-byte value most significant byte
// first, stored into or loaded from memory.
#pragma once

#include <cstdint>

inline void StoreBigEndian16(uint8_t* out, unsigned value)
{
    out[0] = uint8_t(value >> 8);
    out[1] = uint8_t(value);
}

inline void StoreBigEndian32(uint8_t* out, uint32_t value)
{
    out[0] = uint8_t(value >> 24);
    out[1] = uint8_t(value >> 16);
    out[2] = uint8_t(value >> 8);
    out[3] = uint8_t(value);
}

inline uint16_t LoadBigEndian16(const uint8_t* in)
{
    return uint16_t((unsigned(in[0]) << 8) | in[1]);
}

inline uint32_t LoadBigEndian32(const uint8_t* in)
{
    return (uint32_t(in[0]) << 24) | (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | in[3];
}

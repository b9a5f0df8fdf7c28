// Byte writers for PIC files: every multi-byte value goes out most
// significant byte first, each item with a single write call.
#pragma once

#include <cstdint>
#include <cstdio>

// Each returns 1 when its one write call wrote the whole item, else 0.
int PutByte(FILE* file, int value);
int PutBigEndian16(FILE* file, int value);      // the low 16 bits of value
int PutBigEndian32(FILE* file, uint32_t value); // integers and float bit patterns

// The same orders into memory, for code that assembles bytes before writing.
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

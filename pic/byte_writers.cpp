#include "pic/byte_writers.h"

int PutByte(FILE* file, int value)
{
    return std::fputc(value & 0xFF, file) == EOF ? 0 : 1;
}

int PutBigEndian16(FILE* file, int value)
{
    uint8_t bytes[2];
    StoreBigEndian16(bytes, unsigned(value) & 0xFFFFu);
    return std::fwrite(bytes, sizeof bytes, 1, file) == 1 ? 1 : 0;
}

int PutBigEndian32(FILE* file, uint32_t value)
{
    uint8_t bytes[4];
    StoreBigEndian32(bytes, value);
    return std::fwrite(bytes, sizeof bytes, 1, file) == 1 ? 1 : 0;
}

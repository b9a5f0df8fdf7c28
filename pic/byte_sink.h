// PicByteSink: a buffered writer of our own over a C stream that remembers
// whether any write failed, so that a frame can tell a complete file from a
// damaged one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class PicByteSink {
public:
    explicit PicByteSink(FILE* file);
    // Flushes what is still buffered (its result is lost: call Flush first).
    ~PicByteSink();
    PicByteSink(const PicByteSink&) = delete;
    PicByteSink& operator=(const PicByteSink&) = delete;

    void Put(uint8_t value);
    void PutBigEndian16(unsigned value);  // the low 16 bits, high byte first
    void Write(const uint8_t* bytes, size_t count);
    // Hands everything buffered to the stream; 1 when every write so far
    // succeeded, else 0.
    int Flush();
    // 0 once any write has failed.
    int Ok() const;
};

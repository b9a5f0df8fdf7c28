// PicByteSink: a buffered writer of our own over a C stream that remembers
// whether any write failed, so that a frame can tell a complete file from a
// damaged one.
//
// Bytes collect in a fixed buffer of kBufferSize bytes and go to the stream
// in large writes. Anything written to the stream directly while the sink
// still holds bytes would land before them: Flush first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

class PicByteSink {
public:
    static constexpr size_t kBufferSize = 64 * 1024;

    // Allocates the buffer (may throw std::bad_alloc).
    explicit PicByteSink(FILE* file);
    // Flushes what is still buffered (its result is lost: call Flush first).
    ~PicByteSink();
    PicByteSink(const PicByteSink&) = delete;
    PicByteSink& operator=(const PicByteSink&) = delete;

    void Put(uint8_t value)
    {
        if (cursor == end)
            Drain();
        *cursor++ = value;
    }

    void PutBigEndian16(unsigned value) // the low 16 bits, high byte first
    {
        uint8_t* out = Claim(2);
        out[0] = uint8_t(value >> 8);
        out[1] = uint8_t(value);
    }

    void Write(const uint8_t* bytes, size_t count);

    // Room for `count` bytes (count <= kBufferSize) in the buffer, counted as
    // written: the caller fills all of them before the next call on the sink.
    // For encoders that assemble a packet in place.
    uint8_t* Claim(size_t count)
    {
        if (size_t(end - cursor) < count)
            Drain();
        uint8_t* out = cursor;
        cursor += count;
        return out;
    }

    // Hands everything buffered to the stream and flushes the stream; 1 when
    // every write so far succeeded, else 0.
    int Flush();
    // 0 once any write has failed.
    int Ok() const { return failed ? 0 : 1; }

private:
    // Writes the buffered bytes to the stream and empties the buffer.
    void Drain();

    FILE* file;
    std::unique_ptr<uint8_t[]> buffer;
    uint8_t* cursor;
    uint8_t* end;
    bool failed = false;
};

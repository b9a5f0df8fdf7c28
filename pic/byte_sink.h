// Where the bytes of a PIC file go: a PicOutput. PicByteSink is ours over a
// C stream, buffered, and remembers whether any write failed, so that a
// frame can tell a complete file from a damaged one.
//
// Bytes collect in a fixed buffer of kBufferSize bytes and go to the stream
// in large writes. Anything written to the stream directly while the sink
// still holds bytes would land before them: Flush first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

class PicOutput {
public:
    virtual ~PicOutput() = default;
    // Takes `count` bytes; false when they were refused.
    virtual bool Put(const uint8_t* bytes, size_t count) = 0;
};

class PicByteSink : public PicOutput {
public:
    static constexpr size_t kBufferSize = 64 * 1024;

    // Allocates the buffer (may throw std::bad_alloc).
    explicit PicByteSink(FILE* file);
    // Flushes what is still buffered (its result is lost: call Flush first).
    ~PicByteSink() override;
    PicByteSink(const PicByteSink&) = delete;
    PicByteSink& operator=(const PicByteSink&) = delete;

    // False once any write has failed, this one or an earlier one.
    bool Put(const uint8_t* bytes, size_t count) override;

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

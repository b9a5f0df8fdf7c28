// PicByteSource: a buffered reader of our own over a C stream or over bytes
// in memory, for reading rows fast without giving up an exact file position.
//
// Over memory the buffer is the caller's bytes (nothing copied; they must
// outlive the source) and the end of the bytes is the end of the file.
// The source reads the stream ahead into a fixed buffer, kBufferSize bytes
// unless asked otherwise (allocated once, nothing proportional to the file). Release, or the
// destructor, seeks the stream back by what was read ahead and not handed
// out, so that whatever reads the stream next starts right after the last
// byte this source handed out.
//
//   buffer                cursor                limit
//   |  handed out         |  read ahead, unread |  free          |
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

class PicByteSource {
public:
    static constexpr size_t kBufferSize = 64 * 1024;

    // Reads from the stream's current position. Allocates the buffer (may
    // throw std::bad_alloc). Any size from 1 up works; tests and fuzzing use
    // small ones to put buffer ends everywhere.
    explicit PicByteSource(FILE* file, size_t bufferSize = kBufferSize);
    // Reads `size` bytes at `data`; allocates nothing.
    PicByteSource(const uint8_t* data, size_t size);
    // Gives back what was read ahead (see Release).
    ~PicByteSource();
    PicByteSource(const PicByteSource&) = delete;
    PicByteSource& operator=(const PicByteSource&) = delete;

    // The next byte (0..255), or -1 at the end of the file.
    int Next()
    {
        if (cursor != limit)
            return *cursor++;
        return NextSlow();
    }

    // Copies `count` bytes into `out`; bytes past the end of the file come
    // out as 255. Returns how many came from the file.
    size_t ReadFilled(uint8_t* out, size_t count);

    // Bytes handed out since the source was made: the file offset when it
    // was made at offset 0.
    uint64_t Position() const { return handedBefore + uint64_t(cursor - base); }
    // Whether some read wanted a byte past the end of the file (a 255 was
    // made up, or Next answered -1) since the last ClearShort.
    bool WentShort() const { return wentShort; }
    void ClearShort() { wentShort = false; }
    // Whether the stream reported an error rather than its end: the bytes
    // made up since were not the file's.
    bool ReadFailed() const { return readFailed; }

    // Seeks the stream back so that whatever reads it next sees the byte
    // right after the last one this source handed out. 1 on success (also
    // when nothing was read ahead), 0 when the stream cannot seek. The source
    // stays usable: its next read starts from the stream again.
    int Release();

    // Direct access for the row decoders' fast paths: Data() points at the
    // Buffered() bytes read ahead and not yet handed out; Skip(n) hands out
    // n of them (n <= Buffered()). Fill(wanted) reads more until at least
    // `wanted` bytes are buffered, the buffer is full or the file ends, and
    // returns Buffered(); Data() may move.
    const uint8_t* Data() const { return cursor; }
    size_t Buffered() const { return size_t(limit - cursor); }
    void Skip(size_t count) { cursor += count; }
    size_t Fill(size_t wanted);

private:
    int NextSlow();

    FILE* file; // null over memory
    size_t capacity;
    std::unique_ptr<uint8_t[]> buffer; // null over memory
    const uint8_t* base;               // the buffer, or the caller's bytes
    const uint8_t* cursor;
    const uint8_t* limit;
    uint64_t handedBefore = 0; // bytes handed out before `base`
    bool atEnd = false;        // the stream gave a short read: no more to come
    bool wentShort = false;
    bool readFailed = false;
};

// PicByteSource: a buffered reader of our own over a C stream, for reading
// rows fast without giving up an exact file position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class PicByteSource {
public:
    // Reads from the stream's current position.
    explicit PicByteSource(FILE* file);
    // Gives back what was read ahead (see Release).
    ~PicByteSource();
    PicByteSource(const PicByteSource&) = delete;
    PicByteSource& operator=(const PicByteSource&) = delete;

    // The next byte (0..255), or -1 at the end of the file.
    int Next();
    // Copies `count` bytes into `out`; bytes past the end of the file come
    // out as 255. Returns how many came from the file.
    size_t ReadFilled(uint8_t* out, size_t count);
    // Seeks the stream back so that whatever reads it next sees the byte
    // right after the last one this source handed out. 1 on success.
    int Release();
};

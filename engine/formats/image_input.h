// The bytes of one input, a file or standard input ("-"), with its first
// bytes read ahead so that its format can be told by its content. Read goes
// on from the start, through the bytes read ahead; a regular file may also
// be read from any offset (Seek), which readers that seek use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/formats/image_format.h"

class InputBytes;

class ImageInput {
public:
    ImageInput() = default;
    ~ImageInput();
    ImageInput(const ImageInput&) = delete;
    ImageInput& operator=(const ImageInput&) = delete;

    // False with a message ("no such file", "is a directory") when `path`
    // cannot be read.
    bool Open(const std::string& path, std::string& error);
    // Reads on from an input whose first bytes `bytes` holds (a sniff): its
    // open file, with those bytes as the first ones.
    void Adopt(InputBytes& bytes);
    const std::string& Path() const { return path; }
    // The first bytes, at least kSniffBytes (fewer for a shorter input).
    const uint8_t* Head() const { return head.data(); }
    size_t HeadSize() const { return head.size(); }
    // The whole input's size in bytes for a regular file; 0 when unknown (a pipe).
    uint64_t Size() const { return size; }
    // Up to `count` bytes; fewer only at the end or on a read error.
    size_t Read(void* bytes, size_t count);
    // One byte, or -1 at the end.
    int ReadByte();
    // The offset of the next byte Read gives.
    uint64_t Tell() const { return position; }
    // Reads on from `offset`; false when the input is not a regular file or
    // the system refuses.
    bool Seek(uint64_t offset);
    // True once a read failed for a reason other than the end.
    bool Failed() const;

private:
    std::string path;
    FILE* file = nullptr;
    bool ownsFile = false;
    std::vector<uint8_t> head;
    size_t headUsed = 0;
    uint64_t size = 0;
    uint64_t position = 0;
};

// Whether `path` gives its bytes only once: "-" (standard input), a pipe, a
// FIFO or a terminal (/dev/stdin, process substitution). False for regular
// files, folders and names that do not exist.
bool IsStream(const std::string& path);

// Sets binary mode on a standard stream where the system has text mode.
void UseBinaryMode(FILE* file);
// Moves `file` to `offset` bytes from its start, past 2 GiB too.
bool SeekFile(FILE* file, uint64_t offset);

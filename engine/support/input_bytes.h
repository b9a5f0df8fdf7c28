// An input's bytes, read once into memory: a named file, or standard input
// ("-"), a pipe or a FIFO. Each byte is read from the system once and kept;
// everything that looks at the input afterwards (a format's sniff, pic/'s
// reader, the plug-in's driver) reads the memory.
//
// On Linux the memory is a memory file (memfd), which other code may open
// by name (MemoryName(): /proc/self/fd/N), as the plug-in's driver does to
// load it, so that the input itself is opened once. Elsewhere, or where the
// system makes no memory file, the bytes are in the heap and MemoryName()
// is empty.
//
// A regular file's read asks for all that is wanted at once: a read that
// gives less than asked of a regular file is its end, so that a whole file
// takes one read. A stream is read in pieces until it ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// InputBytes' memory, a platform's own (input_bytes_posix.cpp,
// input_bytes_win32.cpp): a memory file that can be opened by name on
// Linux, the heap elsewhere.
class InputMemory {
public:
    InputMemory() = default;
    ~InputMemory();
    InputMemory(const InputMemory&) = delete;
    InputMemory& operator=(const InputMemory&) = delete;
    // Room for `bytes` bytes, keeping those held (Data() may move); false
    // when the memory cannot be had.
    bool Reserve(size_t bytes);
    uint8_t* Data() const { return data; }
    // A name that opens the first `size` bytes, or "".
    std::string Name(size_t size);

private:
    uint8_t* data = nullptr;
    size_t capacity = 0;
    int descriptor = -1;       // the memory file, where there is one
    std::vector<uint8_t> heap; // where there is none
};

class InputBytes {
public:
    InputBytes();
    ~InputBytes();
    InputBytes(const InputBytes&) = delete;
    InputBytes& operator=(const InputBytes&) = delete;

    // Opens `path` ("-" is standard input); false with Error() set (EISDIR
    // for a folder).
    bool Open(const std::string& path);
    const std::string& Path() const { return path; }
    // A regular file's size as the system tells it; 0 for a stream.
    uint64_t KnownSize() const { return knownSize; }
    // True when the input gives its bytes once: standard input, a pipe, a
    // FIFO, a terminal.
    bool IsStream() const { return stream; }

    // Reads on until `count` bytes are held or the input ends; false with
    // Error() set when a read fails or the memory cannot be had (ENOMEM).
    bool ReadUpTo(uint64_t count);
    // Reads what follows the bytes held, without keeping it, and answers how
    // many bytes that was; false with Error() set when a read fails.
    bool SkipRest(uint64_t& count);
    // True once a read met the end.
    bool Ended() const { return ended; }

    const uint8_t* Data() const;
    size_t Size() const { return size; }
    // A name that opens exactly the bytes held, or "" where there is none.
    const std::string& MemoryName();
    // The errno of the last failure.
    int Error() const { return error; }

    // Hands over the open file, standing right after the bytes held, for a
    // reader that reads the rest itself; null for standard input's own
    // stream, which stays open. The object keeps its bytes.
    FILE* TakeFile();

private:
    bool ReadPiece(size_t want);

    std::string path;
    FILE* file = nullptr;
    bool ownsFile = false;
    bool stream = false;
    bool ended = false;
    uint64_t knownSize = 0;
    InputMemory memory;
    size_t size = 0;
    std::string memoryName;
    int error = 0;
};

// Platform halves (input_bytes_posix.cpp, input_bytes_win32.cpp).
// Opens `path` for reading; null with errno set (EISDIR for a folder), and
// says whether it is a regular file and how large.
FILE* OpenInputFile(const char* path, bool& regular, uint64_t& size);
// Up to `count` bytes from `file` with one read of the system where it
// can; 0 at the end or on an error (errno set, `failed` true).
size_t ReadInputFile(FILE* file, void* bytes, size_t count, bool& failed);
// Binary mode for standard input where the system has a text mode.
void UseInputBinaryMode(FILE* file);

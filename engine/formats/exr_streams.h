// OpenEXR's files over pictool's own input and output: reads through an
// ImageInput (so that a reader never opens its file a second time), writes
// to the FILE* an ImageOutput gives. Both throw as OpenEXR expects, and the
// output keeps the system's error of the call that failed: OpenEXR swallows
// failures in some places (the line offsets its destructor writes), and a
// stale errno must not stand for one.
#pragma once

#include <ImfIO.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

class ImageInput;

// OpenEXR sizes its tables from a header as it opens a file: sides past
// what PIC holds are refused by the library's own check first. Called
// before OpenEXR reads or writes anything.
void LimitExrSizes();

// "EXR data is corrupt or cut short (what OpenEXR said)", or "out of memory"
std::string CorruptExr(const std::exception& failure);

class ExrInputStream : public Imf::IStream {
public:
    explicit ExrInputStream(ImageInput& from);
    bool read(char bytes[], int count) override;
    uint64_t tellg() override;
    void seekg(uint64_t position) override;

private:
    ImageInput& input;
};

class ExrOutputStream : public Imf::OStream {
public:
    ExrOutputStream(FILE* to, const char* name) : Imf::OStream(name), file(to) {}
    void write(const char bytes[], int count) override;
    uint64_t tellp() override;
    void seekp(uint64_t position) override;
    // The errno of the first write or seek that failed; 0 when none did.
    int Failure() const { return failure; }

    // Keeps a copy of what is last written to `count` 64-bit words from
    // `from` on: the line offsets, which OpenEXR writes as it closes.
    void WatchOffsets(uint64_t from, size_t count);
    // True when every offset watched was written and is not 0. OpenEXR
    // leaves a block it failed to make (zlib out of memory) at 0, and
    // swallows the failure.
    bool OffsetsWritten() const;

private:
    FILE* file;
    int failure = 0;
    uint64_t position = 0;
    uint64_t watchFrom = 0;
    std::vector<char> watched; // the offsets as written, 8 bytes each
};

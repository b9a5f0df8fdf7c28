// The checks of the row-decoder fuzz target (run_length_row_fuzz.cpp).
//
// Input: 2 bytes row width (big-endian, signed like the header's width),
// then the stream. Rows are decoded one after another, until one fails,
// through a source over the bytes in memory and two over a C stream, one with
// the usual buffer and one with a buffer of a few bytes (so that buffer ends
// fall everywhere); all three must agree exactly: result, stored pixels and
// stream position. The file sources' arrays are exactly `width` bytes
// (AddressSanitizer sees any write past them); the memory source's arrays
// carry guard bytes that must stay untouched. Each run starts from its own fill byte, so on success
// every pixel must have been stored, and on failure what was stored must be a common prefix.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "pic/rle_codec.h"

namespace fuzz {

constexpr int kMaxRows = 16;
constexpr size_t kGuardBytes = 16;
constexpr uint8_t kGuard = 0xA5;
constexpr int kSources = 2;

inline void Check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "row decoder fault: %s\n", what);
        std::abort();
    }
}

inline FILE* OpenBytes(const uint8_t* data, size_t size)
{
    FILE* file = std::tmpfile();
    Check(file != nullptr, "no temporary file");
    Check(size == 0 || std::fwrite(data, 1, size, file) == size, "temporary file not written");
    std::rewind(file);
    return file;
}

// One channel's arrays: guarded for the C stream, exact for each source.
struct ChannelArrays {
    std::vector<uint8_t> guarded;
    std::unique_ptr<uint8_t[]> exact[kSources];
};

// After a row: the stream's array and one source's array are equal up to
// some index, then each holds its own fill byte. Returns that index.
inline size_t StoredPrefix(const uint8_t* fromFile, const uint8_t* fromSource, size_t width,
                           uint8_t fileFill, uint8_t sourceFill)
{
    size_t stored = 0;
    while (stored < width && fromFile[stored] == fromSource[stored])
        ++stored;
    for (size_t index = stored; index < width; ++index) {
        Check(fromFile[index] == fileFill && fromSource[index] == sourceFill,
              "stored pixels are not a common prefix");
    }
    return stored;
}

// `decode(source, arrays, width)` decodes one row into `channelCount`
// (1..4, 6 or 8) arrays and answers 0 or 1.
template <class SourceDecoder>
int FuzzRows(const uint8_t* data, size_t size, int channelCount, SourceDecoder decode)
{
    if (size < 2)
        return 0;
    const int width = int16_t(uint16_t((data[0] << 8) | data[1]));
    const size_t rowBytes = width > 0 ? size_t(width) : 0;
    PicByteSource memory(data + 2, size - 2);
    FILE* sourceFiles[kSources] = {OpenBytes(data + 2, size - 2), OpenBytes(data + 2, size - 2)};
    {
        std::vector<ChannelArrays> channels(static_cast<size_t>(channelCount));
        for (ChannelArrays& arrays : channels) {
            arrays.guarded.assign(rowBytes + kGuardBytes, kGuard);
            for (auto& exact : arrays.exact)
                exact.reset(new uint8_t[rowBytes]);
        }
        PicByteSource usual(sourceFiles[0]);
        PicByteSource tiny(sourceFiles[1], 1 + size % 29);
        PicByteSource* sources[kSources] = {&usual, &tiny};
        for (int rowIndex = 0; rowIndex < kMaxRows; ++rowIndex) {
            const uint8_t fileFill = uint8_t(0x5A ^ rowIndex);
            const uint8_t sourceFills[kSources] = {uint8_t(~fileFill), uint8_t(fileFill ^ 0x0F)};
            uint8_t* fileArrays[8];
            for (int channel = 0; channel < channelCount; ++channel) {
                ChannelArrays& arrays = channels[size_t(channel)];
                std::memset(arrays.guarded.data(), fileFill, rowBytes);
                fileArrays[channel] = arrays.guarded.data();
            }
            const int fileResult = decode(memory, fileArrays, width);
            Check(fileResult == 0 || fileResult == 1, "result neither 0 nor 1");
            for (const ChannelArrays& arrays : channels) {
                for (size_t index = rowBytes; index < rowBytes + kGuardBytes; ++index)
                    Check(arrays.guarded[index] == kGuard, "write past the row");
            }

            for (int which = 0; which < kSources; ++which) {
                uint8_t* sourceArrays[8];
                for (int channel = 0; channel < channelCount; ++channel) {
                    uint8_t* exact = channels[size_t(channel)].exact[which].get();
                    std::memset(exact, sourceFills[which], rowBytes);
                    sourceArrays[channel] = exact;
                }
                const int sourceResult = decode(*sources[which], sourceArrays, width);
                Check(sourceResult == fileResult, "memory and file disagree on the result");
                Check(sources[which]->Release() == 1, "source not released");
                Check(long(memory.Position()) == std::ftell(sourceFiles[which]),
                      "memory and file disagree on the position");
                size_t firstStored = 0;
                for (int channel = 0; channel < channelCount; ++channel) {
                    const size_t stored = StoredPrefix(fileArrays[channel], sourceArrays[channel],
                                                       rowBytes, fileFill, sourceFills[which]);
                    Check(channel == 0 || stored == firstStored,
                          "channels stored different lengths");
                    firstStored = stored;
                }
                if (fileResult == 1)
                    Check(firstStored == rowBytes, "row reported whole with pixels missing");
            }
            if (fileResult == 0)
                break;
        }
    }
    for (FILE* file : sourceFiles)
        std::fclose(file);
    return 0;
}

} // namespace fuzz

// Shared body of the two row-decoder fuzz targets.
//
// Input: 2 bytes row width (big-endian, signed like the header's width),
// then the stream. Rows are decoded one after another, until one fails, both
// from a C stream and through the buffered source, and must agree exactly:
// result, stored pixels and stream position. The arrays of the source run
// are exactly `width` bytes (AddressSanitizer sees any write past them); the
// stream run's arrays carry guard bytes that must stay untouched. Each run
// starts from its own fill byte, so on success every pixel must have been
// stored and on failure what was stored must be a common prefix.
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

struct Row {
    std::vector<uint8_t> guarded;          // width + kGuardBytes, for the stream run
    std::unique_ptr<uint8_t[]> exact;      // width, for the source run
};

// Compares one channel of both runs after a row: equal up to some index,
// then each run's own fill byte. Returns that index.
inline size_t StoredPrefix(const Row& row, size_t width, uint8_t fileFill, uint8_t sourceFill)
{
    for (size_t index = width; index < width + kGuardBytes; ++index)
        Check(row.guarded[index] == kGuard, "write past the row (stream)");
    size_t stored = 0;
    while (stored < width && row.guarded[stored] == row.exact[stored])
        ++stored;
    for (size_t index = stored; index < width; ++index) {
        Check(row.guarded[index] == fileFill && row.exact[index] == sourceFill,
              "stored pixels are not a common prefix");
    }
    return stored;
}

// `decodeFile(file, arrays)` and `decodeSource(source, arrays)` decode one
// row into `channelCount` arrays.
template <class FileDecoder, class SourceDecoder>
int FuzzRows(const uint8_t* data, size_t size, int channelCount, FileDecoder decodeFile,
             SourceDecoder decodeSource)
{
    if (size < 2)
        return 0;
    const int width = int16_t(uint16_t((data[0] << 8) | data[1]));
    const size_t rowBytes = width > 0 ? size_t(width) : 0;
    FILE* plainFile = OpenBytes(data + 2, size - 2);
    FILE* sourceFile = OpenBytes(data + 2, size - 2);
    {
        std::vector<Row> rows(static_cast<size_t>(channelCount));
        for (Row& row : rows) {
            row.guarded.assign(rowBytes + kGuardBytes, kGuard);
            row.exact.reset(new uint8_t[rowBytes]);
        }
        uint8_t* fileArrays[3];
        uint8_t* sourceArrays[3];
        PicByteSource source(sourceFile);
        for (int rowIndex = 0; rowIndex < kMaxRows; ++rowIndex) {
            const uint8_t fileFill = uint8_t(0x5A ^ rowIndex);
            const uint8_t sourceFill = uint8_t(~fileFill);
            for (int channel = 0; channel < channelCount; ++channel) {
                Row& row = rows[size_t(channel)];
                std::memset(row.guarded.data(), fileFill, rowBytes);
                std::memset(row.exact.get(), sourceFill, rowBytes);
                fileArrays[channel] = row.guarded.data();
                sourceArrays[channel] = row.exact.get();
            }
            const int fileResult = decodeFile(plainFile, fileArrays, width);
            const int sourceResult = decodeSource(source, sourceArrays, width);
            Check(fileResult == 0 || fileResult == 1, "result neither 0 nor 1");
            Check(fileResult == sourceResult, "stream and source disagree on the result");
            Check(source.Release() == 1, "source not released");
            Check(std::ftell(plainFile) == std::ftell(sourceFile),
                  "stream and source disagree on the position");
            const size_t stored = StoredPrefix(rows[0], rowBytes, fileFill, sourceFill);
            for (int channel = 1; channel < channelCount; ++channel) {
                Check(StoredPrefix(rows[size_t(channel)], rowBytes, fileFill, sourceFill) == stored,
                      "channels stored different lengths");
            }
            if (fileResult == 1)
                Check(stored == rowBytes, "row reported whole with pixels missing");
            else
                break;
        }
    }
    std::fclose(plainFile);
    std::fclose(sourceFile);
    return 0;
}

} // namespace fuzz

// Helpers for the row codec tests: decode rows from a byte string kept in a
// file, through either the C stream or the buffered source, and encode rows
// into byte strings.
#pragma once

#include <string>
#include <vector>

#include "tests/test_support.h"

enum class Reading { File, Source };

// One decoded row: the result, the channel arrays (one or three, `width`
// bytes each; 0xEE where nothing was stored) and the stream position after
// the row.
struct DecodedRow {
    int result = -1;
    std::vector<Bytes> channels;
    long position = -1;
};

// Decodes `rows` rows of `width` pixels from a file holding `stream`, one
// after another, with `channelCount` 1 (DecodeChannelRow) or 3
// (DecodeRgbRow). Fails the running test if a decoder writes outside its
// row.
std::vector<DecodedRow> DecodeRows(const Bytes& stream, int width, int channelCount,
                                   Reading reading, int rows = 1);

// Encodes one row with `channels.size()` 1 or 3 arrays of `width` bytes,
// into a buffer of exactly the largest size a row may take. Whether the
// encoder answered a size (1) or not (0) goes to `result`, or must be 1 when
// that is null.
Bytes EncodeRow(const std::vector<Bytes>& channels, int width, int* result = nullptr);

// "82 41 01" -> {0x82, 0x41, 0x01}; "41*3" -> {0x41, 0x41, 0x41} (count in decimal)
Bytes HexBytes(const std::string& text);
// "10 11|20 21|30 31" -> three channels of HexBytes, split at each '|'
std::vector<Bytes> HexChannels(const std::string& text);
std::string ToHex(const Bytes& bytes);

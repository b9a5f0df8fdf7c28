#include "tests/rle_test_streams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "pic/rle_codec.h"

namespace {

constexpr uint8_t kUntouched = 0xEE;
constexpr size_t kGuardBytes = 32;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<FILE, FileCloser>;

int DecodeOne(PicByteSource& source, std::vector<Bytes>& arrays, int width)
{
    if (arrays.size() == 1)
        return DecodeChannelRow(source, arrays[0].data(), width);
    return DecodeRgbRow(source, arrays[0].data(), arrays[1].data(), arrays[2].data(), width);
}

} // namespace

std::vector<DecodedRow> DecodeRows(const Bytes& stream, int width, int channelCount,
                                   Reading reading, int rows)
{
    TempDir dir;
    const std::string path = dir.File("rows");
    WriteFileBytes(path, stream);
    FilePointer file(std::fopen(path.c_str(), "rb"));
    // Reading::File reads through a buffer of one byte: nothing read ahead.
    PicByteSource source(file.get(), reading == Reading::Source ? PicByteSource::kBufferSize : 1);

    const size_t rowBytes = width > 0 ? size_t(width) : 0;
    std::vector<DecodedRow> decoded;
    for (int row = 0; row < rows; ++row) {
        std::vector<Bytes> arrays(size_t(channelCount), Bytes(rowBytes + kGuardBytes, kUntouched));
        DecodedRow result;
        result.result = DecodeOne(source, arrays, width);
        EXPECT_EQ(source.Release(), 1);
        result.position = std::ftell(file.get());
        for (Bytes& array : arrays) {
            for (size_t index = rowBytes; index < array.size(); ++index)
                EXPECT_EQ(array[index], kUntouched) << "written past the row at " << index;
            array.resize(rowBytes);
            result.channels.push_back(array);
        }
        decoded.push_back(result);
    }
    return decoded;
}

Bytes EncodeRow(const std::vector<Bytes>& channels, int width, int* result)
{
    const bool rgb = channels.size() == 3;
    Bytes out(rgb ? MaxEncodedRgbRow(width) : MaxEncodedChannelRow(width));
    const ptrdiff_t size = rgb ? EncodeRgbRow(out.data(), channels[0].data(), channels[1].data(),
                                              channels[2].data(), width)
                               : EncodeChannelRow(out.data(), channels[0].data(), width);
    if (result != nullptr)
        *result = size >= 0 ? 1 : 0;
    else
        EXPECT_GE(size, 0);
    out.resize(size_t(std::max<ptrdiff_t>(size, 0)));
    return out;
}

Bytes HexBytes(const std::string& text)
{
    std::istringstream in(text);
    Bytes bytes;
    std::string token;
    while (in >> token) {
        const size_t star = token.find('*');
        const unsigned value = unsigned(std::stoul(token.substr(0, star), nullptr, 16));
        const size_t repeat = star == std::string::npos ? 1 : std::stoul(token.substr(star + 1));
        bytes.insert(bytes.end(), repeat, uint8_t(value));
    }
    return bytes;
}

std::vector<Bytes> HexChannels(const std::string& text)
{
    std::vector<Bytes> channels;
    size_t start = 0;
    for (;;) {
        const size_t bar = text.find('|', start);
        channels.push_back(HexBytes(text.substr(start, bar - start)));
        if (bar == std::string::npos)
            return channels;
        start = bar + 1;
    }
}

std::string ToHex(const Bytes& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t value : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[value >> 4];
        text += digits[value & 15];
    }
    return text;
}

#include "tests/layout_files.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Pixel = std::vector<uint8_t>;

Pixel PixelAt(uint32_t x, uint32_t y, const LayoutPacket& packet)
{
    Pixel pixel;
    for (int channel = 0; channel < 4; ++channel) {
        if ((packet.mask & (0x80 >> channel)) == 0)
            continue;
        if (packet.bits == 16) {
            const uint16_t value = LayoutValue16(x, y, channel);
            pixel.insert(pixel.end(), {uint8_t(value >> 8), uint8_t(value)});
        } else {
            pixel.push_back(LayoutValue(x, y, channel));
        }
    }
    return pixel;
}

void Append(Bytes& out, const Pixel& pixel)
{
    out.insert(out.end(), pixel.begin(), pixel.end());
}

// Equal pixels from x on, at most `most`.
uint32_t RunLength(const std::vector<Pixel>& row, uint32_t x, uint32_t most)
{
    uint32_t length = 1;
    while (x + length < row.size() && length < most && row[x + length] == row[x])
        ++length;
    return length;
}

// Marks in `inLiteral` (one flag per pixel of the row) the pixels it leaves
// out of literals.
void EncodeMixed(const std::vector<Pixel>& row, Bytes& out, std::vector<bool>::iterator inLiteral)
{
    const uint32_t width = uint32_t(row.size());
    for (uint32_t x = 0; x < width;) {
        const uint32_t run = RunLength(row, x, 65535);
        if (run >= 2) {
            if (run <= 128) {
                out.push_back(uint8_t(127 + run));
            } else {
                out.insert(out.end(), {128, uint8_t(run >> 8), uint8_t(run)});
            }
            Append(out, row[x]);
            for (uint32_t index = 0; index < run; ++index)
                inLiteral[x + index] = false;
            x += run;
            continue;
        }
        uint32_t literal = 1;
        while (x + literal < width && literal < 128 && RunLength(row, x + literal, 2) < 2)
            ++literal;
        out.push_back(uint8_t(literal - 1));
        for (uint32_t index = 0; index < literal; ++index)
            Append(out, row[x + index]);
        x += literal;
    }
}

void EncodePure(const std::vector<Pixel>& row, Bytes& out)
{
    for (uint32_t x = 0; x < row.size();) {
        const uint32_t run = RunLength(row, x, 255);
        out.push_back(uint8_t(run));
        Append(out, row[x]);
        x += run;
    }
}

} // namespace

uint8_t LayoutValue(uint32_t x, uint32_t y, int channel)
{
    const uint32_t c = uint32_t(channel);
    if (x % 17 >= 12)
        return uint8_t(x * 131 + y * 7 + c * 29);
    return uint8_t((x / 3) * 37 + y * 11 + c * 71);
}

uint16_t LayoutValue16(uint32_t x, uint32_t y, int channel)
{
    return uint16_t(LayoutValue(x, y, channel) * 251u + (x / 3) * 13 + y * 3 + uint32_t(channel));
}

LayoutFile BuildLayoutFile(uint32_t width, uint32_t height,
                           const std::vector<LayoutPacket>& packets)
{
    LayoutFile file;
    file.bytes = MakePicHeaderBytes(int(width), int(height), false, false);
    file.bytes.resize(104);
    for (size_t index = 0; index < packets.size(); ++index) {
        const uint8_t chained = index + 1 < packets.size() ? 1 : 0;
        file.bytes.insert(file.bytes.end(),
                          {chained, packets[index].bits, packets[index].type, packets[index].mask});
    }
    std::vector<Pixel> row(width);
    file.literal.assign(size_t(width) * height, true);
    for (uint32_t y = 0; y < height; ++y) {
        file.rowStarts.push_back(file.bytes.size());
        const auto literal = file.literal.begin() + long(y * width);
        for (const LayoutPacket& packet : packets) {
            for (uint32_t x = 0; x < width; ++x)
                row[x] = PixelAt(x, y, packet);
            if (packet.type == 2) {
                EncodeMixed(row, file.bytes, literal);
                continue;
            }
            std::fill(literal, literal + long(width), false);
            if (packet.type == 0) {
                for (const Pixel& pixel : row)
                    Append(file.bytes, pixel);
            } else {
                EncodePure(row, file.bytes);
            }
        }
    }
    file.rowStarts.push_back(file.bytes.size());
    return file;
}

LayoutStored LayoutStoredValue(const std::vector<LayoutPacket>& packets, uint32_t x, uint32_t y,
                               int channel)
{
    LayoutStored stored{0, 0};
    for (const LayoutPacket& packet : packets) {
        if ((packet.mask & (0x80 >> channel)) != 0)
            stored = packet.bits == 16 ? LayoutStored{16, LayoutValue16(x, y, channel)}
                                       : LayoutStored{8, LayoutValue(x, y, channel)};
    }
    return stored;
}

Bytes WritePicToMemory(const Bytes& pixels, int width, int height, int channels, size_t stride,
                       const PicWriteOptions& options)
{
    struct Memory : PicOutput {
        Bytes bytes;
        bool Put(const uint8_t* data, size_t count) override
        {
            bytes.insert(bytes.end(), data, data + count);
            return true;
        }
    } memory;
    EXPECT_EQ(WritePicImage(memory, pixels.data(), uint32_t(width), uint32_t(height), channels,
                            stride, options),
              PicWriteResult::Written);
    return memory.bytes;
}

// Frames for the benchmarks, made in memory: planar 8-bit red, green, blue
// and alpha, row after row, and the same frame as PIC row streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "pic/byte_sink.h"

// The size of the frames measured: UHD.
constexpr int kBenchWidth = 3840;
constexpr int kBenchHeight = 2160;

struct BenchFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> red, green, blue, alpha; // width * height each

    const uint8_t* Row(const std::vector<uint8_t>& channel, int row) const
    {
        return channel.data() + size_t(row) * size_t(width);
    }
    double Megapixels() const { return double(width) * double(height) / 1e6; }
};

// A typical render: sky and floor gradients, flat shapes with soft alpha
// edges, and a small textured patch. About 2.2 MB as PIC rows at UHD.
BenchFrame MakeTypicalRenderFrame(int width = kBenchWidth, int height = kBenchHeight);

// A grainy opaque render: every pixel differs from its neighbour in colour,
// alpha is flat. About 25 MB as PIC rows at UHD.
BenchFrame MakeNoisyFrame(int width = kBenchWidth, int height = kBenchHeight);

// Writes every row of the frame as the loader reads it: the colour stream,
// then the alpha stream.
void EncodeFrameRows(const BenchFrame& frame, PicByteSink& sink);

// A temporary file holding the frame's rows (EncodeFrameRows), positioned
// at its start; the caller closes it. Null when no temporary file can be made.
FILE* MakeEncodedFrameFile(const BenchFrame& frame);

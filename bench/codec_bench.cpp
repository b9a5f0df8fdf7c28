// The row codec on whole UHD frames (colour and alpha streams of every
// row), through the buffered source and sink, as the loader and the frame
// writer use it. Reported per frame; "Mpx/s" is frame pixels per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "bench/bench_frames.h"
#include "pic/rle_codec.h"

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<FILE, FileCloser>;

const BenchFrame& Frame(int kind)
{
    static const BenchFrame typical = MakeTypicalRenderFrame();
    static const BenchFrame noisy = MakeNoisyFrame();
    return kind == 0 ? typical : noisy;
}

void SetCounters(benchmark::State& state, const BenchFrame& frame, long streamBytes)
{
    state.counters["Mpx/s"] =
        benchmark::Counter(frame.Megapixels(), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MB"] = benchmark::Counter(double(streamBytes) / 1e6);
    state.SetLabel(state.range(0) == 0 ? "typical render" : "noisy");
}

void DecodeFrame(benchmark::State& state)
{
    const BenchFrame& frame = Frame(int(state.range(0)));
    FilePointer file(MakeEncodedFrameFile(frame));
    if (file == nullptr) {
        state.SkipWithError("no temporary file");
        return;
    }
    std::fseek(file.get(), 0, SEEK_END);
    const long streamBytes = std::ftell(file.get());
    std::vector<uint8_t> red(size_t(frame.width)), green(red), blue(red), alpha(red);
    for (auto _ : state) {
        std::rewind(file.get());
        PicByteSource source(file.get());
        int decoded = 1;
        for (int row = 0; row < frame.height; ++row) {
            decoded &= DecodeRgbRow(source, red.data(), green.data(), blue.data(), frame.width);
            decoded &= DecodeChannelRow(source, alpha.data(), frame.width);
        }
        if (decoded != 1)
            state.SkipWithError("a row failed");
        benchmark::DoNotOptimize(red.data());
        benchmark::DoNotOptimize(alpha.data());
    }
    SetCounters(state, frame, streamBytes);
}

void EncodeFrame(benchmark::State& state)
{
    const BenchFrame& frame = Frame(int(state.range(0)));
    FilePointer file(std::tmpfile());
    if (file == nullptr) {
        state.SkipWithError("no temporary file");
        return;
    }
    for (auto _ : state) {
        std::rewind(file.get());
        PicByteSink sink(file.get());
        EncodeFrameRows(frame, sink);
        if (sink.Flush() != 1)
            state.SkipWithError("a write failed");
    }
    SetCounters(state, frame, std::ftell(file.get()));
}

} // namespace

BENCHMARK(DecodeFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(EncodeFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

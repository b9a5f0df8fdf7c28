// `pictool convert --jobs N` over a sequence of 24 HD frames, run as users
// run it: the real pictool beside this program, a fresh process each time.
// Wall-clock time, since the work is spread over threads. Frames are typical
// renders (bench_frames.h) with a little per-frame variation, made once as
// PIC files through pictool itself, in memory (/dev/shm) where the system
// has it: on a virtual disk shared with other work the writes, not pictool,
// set the pace.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "bench/bench_frames.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 24;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

std::string Quote(const std::string& text)
{
    return "'" + text + "'"; // the paths here hold no quote
}

std::string Pictool()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string self(path, length > 0 ? size_t(length) : 0);
    return self.substr(0, self.find_last_of('/') + 1) + "pictool";
}

bool Run(const std::string& arguments)
{
    return std::system((Quote(Pictool()) + " convert --quiet " + arguments).c_str()) == 0;
}

// A folder holding f01.pam ... f24.pam and f01.pic ... f24.pic, made once.
const std::string& FrameFolder()
{
    static const std::string folder = [] {
        const fs::path path =
            fs::temp_directory_path() / ("pictool-jobs-bench-" + std::to_string(getpid()));
        fs::create_directories(path);
        const BenchFrame frame = MakeTypicalRenderFrame(kWidth, kHeight);
        for (int index = 1; index <= kFrames; ++index) {
            char name[16];
            std::snprintf(name, sizeof name, "f%02d.pam", index);
            FILE* file = std::fopen((path / name).string().c_str(), "wb");
            if (file == nullptr)
                std::abort();
            std::fprintf(file, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nENDHDR\n", kWidth,
                         kHeight);
            for (size_t pixel = 0; pixel < frame.red.size(); ++pixel) {
                const unsigned char tuple[4] = {
                    frame.red[pixel], frame.green[pixel],
                    static_cast<unsigned char>(frame.blue[pixel] + index), frame.alpha[pixel]};
                std::fwrite(tuple, 1, 4, file);
            }
            std::fclose(file);
        }
        const std::string base = Quote((path / "f%02d").string());
        if (!Run(base + ".pam " + base + ".pic --frames 1-24"))
            std::abort();
        return path.string();
    }();
    return folder;
}

void ConvertSequence(benchmark::State& state, const char* from, const char* to)
{
    const std::string folder = FrameFolder();
    const std::string arguments = Quote(folder + "/f%02d." + from) + " " +
                                  Quote(folder + "/o%02d." + to) + " --frames 1-24 --jobs " +
                                  std::to_string(state.range(0));
    for (auto _ : state)
        if (!Run(arguments))
            state.SkipWithError("pictool failed");
    state.counters["frames/s"] =
        benchmark::Counter(double(kFrames), benchmark::Counter::kIsIterationInvariantRate);
}

void PicToPng(benchmark::State& state)
{
    ConvertSequence(state, "pic", "png");
}

void PamToPic(benchmark::State& state)
{
    ConvertSequence(state, "pam", "pic");
}

// On a shared machine take the best of the repetitions.
void BestOfThreeWithOneAndTwoJobs(benchmark::internal::Benchmark* bench)
{
    bench->Arg(1)
        ->Arg(2)
        ->Iterations(1)
        ->Repetitions(3)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond)
        ->ComputeStatistics("min", [](const std::vector<double>& v) {
            return *std::min_element(v.begin(), v.end());
        });
}
BENCHMARK(PicToPng)->Apply(BestOfThreeWithOneAndTwoJobs);
BENCHMARK(PamToPic)->Apply(BestOfThreeWithOneAndTwoJobs);

} // namespace

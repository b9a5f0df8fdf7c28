// Whole UHD frames through the driver: LoadImage into the host's 16-bit
// storage and WriteFrame from it, for a typical render and a noisy one, raw
// and compressed, RGB and RGBA. Two baselines show what is not ours to
// speed up: copying the file into memory (how fast raw rows could possibly
// load) and filling a fresh host storage row by row (what every load pays
// the host, whatever the file).
//
// Each load or store also runs "warm": glibc is told to keep freed memory,
// so a new storage reuses pages that are already mapped, as in a host that
// has been running a while; a fresh mapping costs a page fault per 4 KiB.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <unistd.h>

#include "bench/bench_frames.h"
#include "driver/pic_bitmap_io.h"
#include "host/bmm_functions.h"

namespace {

enum FrameKind { kTypical, kNoisy };
enum Memory { kColdPages, kWarmPages };

// A folder of our own for the files written and read, removed at exit.
class BenchFolder {
public:
    BenchFolder()
        : path(std::filesystem::temp_directory_path() /
               ("pic-load-write-bench-" + std::to_string(getpid())))
    {
        std::filesystem::create_directories(path);
    }
    ~BenchFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
    std::string File(const std::string& name) const { return (path / name).string(); }

private:
    std::filesystem::path path;
};

const BenchFolder& Folder()
{
    static const BenchFolder folder;
    return folder;
}

// The frame as a host bitmap: each 8-bit value v stored as v * 257, so that
// the low bytes, which the writer drops, are not all zero.
Bitmap& FrameBitmap(FrameKind kind)
{
    static BitmapManager manager;
    static std::map<FrameKind, std::unique_ptr<Bitmap>> bitmaps;
    std::unique_ptr<Bitmap>& bitmap = bitmaps[kind];
    if (bitmap == nullptr) {
        const BenchFrame frame = kind == kTypical ? MakeTypicalRenderFrame() : MakeNoisyFrame();
        BitmapStorage* storage = BMMCreateStorage(&manager, kStorage64);
        BitmapInfo info;
        info.SetWidth(uint16_t(frame.width));
        info.SetHeight(uint16_t(frame.height));
        storage->AllocatePixels(&info, &manager, 1);
        std::vector<BMM_Color_64> row(size_t(frame.width));
        for (int y = 0; y < frame.height; ++y) {
            const size_t start = size_t(y) * size_t(frame.width);
            for (int x = 0; x < frame.width; ++x)
                row[size_t(x)] = {
                    uint16_t(frame.red[start + x] * 257), uint16_t(frame.green[start + x] * 257),
                    uint16_t(frame.blue[start + x] * 257), uint16_t(frame.alpha[start + x] * 257)};
            storage->StoreRow(0, y, frame.width, row.data());
        }
        bitmap = std::make_unique<Bitmap>(&manager);
        bitmap->SetStorage(storage);
    }
    return *bitmap;
}

std::string FileName(FrameKind kind, bool compressed, bool withAlpha)
{
    return Folder().File(std::string(kind == kTypical ? "typical" : "noisy") +
                         (compressed ? "-rle" : "-raw") + (withAlpha ? "-rgba" : "-rgb") + ".pic");
}

// Writes the frame once with a fresh driver; false when that fails.
bool WriteFrameFile(FrameKind kind, bool compressed, bool withAlpha, const std::string& name)
{
    PicBitmapIO driver;
    driver.options.rgbCompressed = compressed ? 1 : 0;
    driver.options.withAlpha = withAlpha ? 1 : 0;
    BitmapInfo output;
    output.SetName(name.c_str());
    return driver.OpenForWrite(&output, &FrameBitmap(kind)) == 0 &&
           driver.WriteFrame(kSingleFrame) == 0;
}

// Keeps freed memory mapped for the scope (glibc only; elsewhere a no-op).
class WarmPages {
public:
    explicit WarmPages(Memory memory) : active(memory == kWarmPages)
    {
#if defined(__GLIBC__)
        if (active) {
            mallopt(M_MMAP_THRESHOLD, 512 << 20);
            mallopt(M_TRIM_THRESHOLD, 1 << 30);
        }
#endif
    }
    ~WarmPages()
    {
#if defined(__GLIBC__)
        if (active) {
            mallopt(M_MMAP_THRESHOLD, 128 << 10);
            mallopt(M_TRIM_THRESHOLD, 128 << 10);
            malloc_trim(0);
        }
#endif
    }

private:
    bool active;
};

void SetRates(benchmark::State& state, int64_t fileBytes)
{
    const double pixels = double(kBenchWidth) * double(kBenchHeight);
    state.counters["Mpx/s"] =
        benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["file_MB"] = double(fileBytes) / 1e6;
    state.SetBytesProcessed(int64_t(state.iterations()) * fileBytes);
}

int64_t FileSize(const std::string& name)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(name, error);
    return error ? 0 : int64_t(size);
}

void BM_WriteFrame(benchmark::State& state, FrameKind kind, bool compressed, bool withAlpha)
{
    PicBitmapIO driver;
    driver.options.rgbCompressed = compressed ? 1 : 0;
    driver.options.withAlpha = withAlpha ? 1 : 0;
    BitmapInfo output;
    const std::string name = Folder().File("written.pic");
    output.SetName(name.c_str());
    if (driver.OpenForWrite(&output, &FrameBitmap(kind)) != 0) {
        state.SkipWithError("OpenForWrite failed");
        return;
    }
    for (auto _ : state) {
        if (driver.WriteFrame(kSingleFrame) != 0) {
            state.SkipWithError("WriteFrame failed");
            return;
        }
    }
    SetRates(state, FileSize(name));
}

void BM_LoadImage(benchmark::State& state, FrameKind kind, bool compressed, bool withAlpha,
                  Memory memory)
{
    const std::string name = FileName(kind, compressed, withAlpha);
    if (!WriteFrameFile(kind, compressed, withAlpha, name)) {
        state.SkipWithError("cannot write the frame to load");
        return;
    }
    const WarmPages pages(memory);
    BitmapManager manager;
    Bitmap bitmap(&manager);
    BitmapInfo info;
    info.SetName(name.c_str());
    for (auto _ : state) {
        PicBitmapIO driver;
        BMMRES status = 0;
        BitmapStorage* storage = driver.LoadImage(&info, &bitmap, &status);
        if (storage == nullptr) {
            state.SkipWithError("LoadImage failed");
            return;
        }
        state.PauseTiming();
        storage->Release(1);
        state.ResumeTiming();
    }
    SetRates(state, FileSize(name));
}

// What loading raw rows cannot beat: the raw file's bytes read into memory.
void BM_CopyRawFile(benchmark::State& state, bool withAlpha)
{
    const std::string name = FileName(kTypical, false, withAlpha);
    if (!WriteFrameFile(kTypical, false, withAlpha, name)) {
        state.SkipWithError("cannot write the frame to copy");
        return;
    }
    const int64_t size = FileSize(name);
    std::vector<uint8_t> bytes(size_t(size) + 1);
    for (auto _ : state) {
        FILE* file = std::fopen(name.c_str(), "rb");
        const size_t got = file != nullptr ? std::fread(bytes.data(), 1, bytes.size(), file) : 0;
        if (file != nullptr)
            std::fclose(file);
        if (int64_t(got) != size) {
            state.SkipWithError("short read");
            return;
        }
        benchmark::DoNotOptimize(bytes.data());
    }
    SetRates(state, size);
}

// What the host costs every load: a new storage sized and filled row by row.
void BM_HostStorageFill(benchmark::State& state, Memory memory)
{
    const WarmPages pages(memory);
    BitmapManager manager;
    BitmapInfo info;
    info.SetWidth(kBenchWidth);
    info.SetHeight(kBenchHeight);
    const std::vector<BMM_Color_64> row(kBenchWidth, BMM_Color_64{0x1200, 0x3400, 0x5600, 0});
    for (auto _ : state) {
        BitmapStorage* storage = BMMCreateStorage(&manager, kStorage64);
        storage->AllocatePixels(&info, &manager, 1);
        for (int y = 0; y < kBenchHeight; ++y)
            storage->StoreRow(0, y, kBenchWidth, row.data());
        state.PauseTiming();
        storage->Release(1);
        state.ResumeTiming();
    }
    SetRates(state, int64_t(kBenchWidth) * kBenchHeight * 8);
}

void RegisterAll()
{
    const struct {
        const char* name;
        FrameKind kind;
    } kinds[] = {{"typical", kTypical}, {"noisy", kNoisy}};
    const struct {
        const char* name;
        Memory memory;
    } memories[] = {{"cold", kColdPages}, {"warm", kWarmPages}};
    for (const auto& kind : kinds) {
        for (const bool compressed : {true, false}) {
            for (const bool withAlpha : {false, true}) {
                const std::string layout =
                    std::string(compressed ? "rle" : "raw") + "/" + (withAlpha ? "rgba" : "rgb");
                benchmark::RegisterBenchmark(
                    ("WriteFrame/" + std::string(kind.name) + "/" + layout).c_str(), BM_WriteFrame,
                    kind.kind, compressed, withAlpha)
                    ->Unit(benchmark::kMillisecond);
                for (const auto& memory : memories)
                    benchmark::RegisterBenchmark(
                        ("LoadImage/" + std::string(kind.name) + "/" + layout + "/" + memory.name)
                            .c_str(),
                        BM_LoadImage, kind.kind, compressed, withAlpha, memory.memory)
                        ->Unit(benchmark::kMillisecond);
            }
        }
    }
    for (const bool withAlpha : {false, true})
        benchmark::RegisterBenchmark(withAlpha ? "CopyRawFile/rgba" : "CopyRawFile/rgb",
                                     BM_CopyRawFile, withAlpha)
            ->Unit(benchmark::kMillisecond);
    for (const auto& memory : memories)
        benchmark::RegisterBenchmark(("HostStorageFill/" + std::string(memory.name)).c_str(),
                                     BM_HostStorageFill, memory.memory)
            ->Unit(benchmark::kMillisecond);
}

const bool registered = (RegisterAll(), true);

} // namespace

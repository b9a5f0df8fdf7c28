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
//
// The "first-call" figures are what a host or pictool sees: each iteration
// starts a fresh process of this program (--first-call), which prepares
// untimed, times its one LoadImage or WriteFrame call and prints the
// milliseconds. Nothing is warm there but the file in the page cache.
//
// Storages are plain heap blocks, as a host application's allocator gives
// them, unless --storage=huge asks for the huge pages of pictool's host.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include "bench/bench_frames.h"
#include "driver/pic_bitmap_io.h"
#include "host/bmm_functions.h"

namespace {

enum FrameKind { kTypical, kNoisy };

// --storage=plain (the default) or --storage=huge, handed on to the children.
const char* storageOption = "plain";
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

// A new file each time, as a render's frames are written; with `replacing`,
// over an earlier file of the same name, whose replacement's data reaches
// the disk before it takes the name. The difference between the two is what
// that sync costs a frame, in the bench folder (a disk's, not /dev/shm).
void BM_WriteFrame(benchmark::State& state, FrameKind kind, bool compressed, bool withAlpha,
                   bool replacing)
{
    PicBitmapIO driver;
    driver.options.rgbCompressed = compressed ? 1 : 0;
    driver.options.withAlpha = withAlpha ? 1 : 0;
    BitmapInfo output;
    const std::string name = Folder().File(replacing ? "replaced.pic" : "written.pic");
    output.SetName(name.c_str());
    if (driver.OpenForWrite(&output, &FrameBitmap(kind)) != 0 ||
        (replacing && driver.WriteFrame(kSingleFrame) != 0)) {
        state.SkipWithError("OpenForWrite failed");
        return;
    }
    for (auto _ : state) {
        if (!replacing) {
            state.PauseTiming();
            std::remove(name.c_str());
            state.ResumeTiming();
        }
        if (driver.WriteFrame(kSingleFrame) != 0) {
            state.SkipWithError("WriteFrame failed");
            return;
        }
    }
    SetRates(state, FileSize(name));
}

// fdatasync alone, on a file just written with the typical render's bytes
// (compressed RGBA) in the bench folder: the sync a replacing frame adds.
void BM_SyncWrittenFrame(benchmark::State& state)
{
    const std::string frame = FileName(kTypical, true, true);
    if (!WriteFrameFile(kTypical, true, true, frame)) {
        state.SkipWithError("cannot write the frame");
        return;
    }
    std::ifstream in(frame, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    const std::string name = Folder().File("synced.pic");
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(name.c_str());
        const int file = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const bool written =
            file >= 0 && write(file, bytes.data(), bytes.size()) == ssize_t(bytes.size());
        state.ResumeTiming();
        const bool synced = written && fdatasync(file) == 0;
        state.PauseTiming();
        if (file >= 0)
            close(file);
        state.ResumeTiming();
        if (!synced) {
            state.SkipWithError("cannot write and sync the frame");
            return;
        }
    }
    SetRates(state, int64_t(bytes.size()));
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

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU time of every thread of this process so far, in ms: on a shared
// machine a steadier figure than the wall clock.
double ProcessCpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Tells `perf record --control fifo:FIFO -D -1` to sample only the timed
// call, when PIC_PERF_CONTROL names that FIFO.
void ControlPerf(const char* command)
{
    const char* fifo = std::getenv("PIC_PERF_CONTROL");
    if (fifo == nullptr)
        return;
    if (FILE* control = std::fopen(fifo, "w")) {
        std::fputs(command, control);
        std::fclose(control);
    }
}

// Wall and CPU milliseconds of one call.
class CallTimer {
public:
    void Start()
    {
        ControlPerf("enable\n");
        cpuStart = ProcessCpuMilliseconds();
        start = Clock::now();
    }
    void Stop()
    {
        wall = MillisecondsSince(start);
        cpu = ProcessCpuMilliseconds() - cpuStart;
        ControlPerf("disable\n");
    }
    double wall = 0;
    double cpu = 0;

private:
    Clock::time_point start;
    double cpuStart = 0;
};

// The child's side of a first-call figure: one call, timed, in this process.
// Prints its wall and CPU milliseconds; exit status 0 when the call succeeded.
int RunFirstCall(const std::string& operation, const std::string& kindName, const std::string& name)
{
    const FrameKind kind = kindName == "noisy" ? kNoisy : kTypical;
    CallTimer timer;
    if (operation == "load") {
        BitmapManager manager;
        Bitmap bitmap(&manager);
        BitmapInfo info;
        info.SetName(name.c_str());
        PicBitmapIO driver;
        BMMRES status = 0;
        timer.Start();
        BitmapStorage* storage = driver.LoadImage(&info, &bitmap, &status);
        timer.Stop();
        if (storage == nullptr)
            return 1;
        bitmap.SetStorage(storage);
    } else if (operation == "write") {
        Bitmap& source = FrameBitmap(kind);
        PicBitmapIO driver;
        driver.options.rgbCompressed = 1;
        driver.options.withAlpha = 1;
        BitmapInfo output;
        output.SetName(name.c_str());
        if (driver.OpenForWrite(&output, &source) != 0)
            return 1;
        timer.Start();
        const BMMRES result = driver.WriteFrame(kSingleFrame);
        timer.Stop();
        if (result != 0)
            return 1;
    } else {
        return 2;
    }
    std::printf("%.3f %.3f\n", timer.wall, timer.cpu);
    return 0;
}

std::string ThisProgram()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, size_t(length)) : std::string();
}

struct FirstCallTimes {
    double wall = -1; // ms; negative when the child failed
    double cpu = -1;
};

// Runs RunFirstCall in a fresh process.
FirstCallTimes FirstCallInChild(const std::string& operation, FrameKind kind,
                                const std::string& name)
{
    const std::string command = "'" + ThisProgram() + "' --storage=" + storageOption +
                                " --first-call " + operation + " " +
                                (kind == kTypical ? "typical" : "noisy") + " '" + name + "'";
    FirstCallTimes times;
    FILE* child = popen(command.c_str(), "r");
    if (child == nullptr)
        return times;
    if (std::fscanf(child, "%lf %lf", &times.wall, &times.cpu) != 2)
        times.wall = -1;
    if (pclose(child) != 0)
        times.wall = -1;
    return times;
}

// Compressed RGBA, the layout the figures are compared on. Each iteration is
// one fresh process; the time is the child's own wall time, best_ms the
// fastest and best_cpu_ms the least CPU time (all threads) of one call.
void BM_FirstCall(benchmark::State& state, const std::string& operation, FrameKind kind)
{
    const std::string loaded = FileName(kind, true, true);
    if (operation == "load" && !WriteFrameFile(kind, true, true, loaded)) {
        state.SkipWithError("cannot write the frame to load");
        return;
    }
    const std::string name = operation == "load" ? loaded : Folder().File("first-call.pic");
    double best = 1e300;
    double bestCpu = 1e300;
    for (auto _ : state) {
        // A write makes a new file each time, as a render's frames do:
        // replacing one costs more (see the README).
        if (operation != "load")
            std::remove(name.c_str());
        const FirstCallTimes times = FirstCallInChild(operation, kind, name);
        if (times.wall < 0) {
            state.SkipWithError("the child process failed");
            return;
        }
        best = std::min(best, times.wall);
        bestCpu = std::min(bestCpu, times.cpu);
        state.SetIterationTime(times.wall / 1e3);
    }
    state.counters["best_ms"] = best;
    state.counters["best_cpu_ms"] = bestCpu;
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
                    kind.kind, compressed, withAlpha, false)
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
    for (const auto& kind : kinds) {
        for (const char* operation : {"load", "write"})
            benchmark::RegisterBenchmark(
                (std::string(*operation == 'l' ? "LoadImage/" : "WriteFrame/") + kind.name +
                 "/rle/rgba/first-call")
                    .c_str(),
                BM_FirstCall, std::string(operation), kind.kind)
                ->UseManualTime()
                ->Iterations(5)
                ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("WriteFrame/typical/rle/rgba/replacing", BM_WriteFrame, kTypical,
                                 true, true, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("SyncWrittenFrame/typical/rle/rgba", BM_SyncWrittenFrame)
        ->Unit(benchmark::kMillisecond);
    for (const bool withAlpha : {false, true})
        benchmark::RegisterBenchmark(withAlpha ? "CopyRawFile/rgba" : "CopyRawFile/rgb",
                                     BM_CopyRawFile, withAlpha)
            ->Unit(benchmark::kMillisecond);
    for (const auto& memory : memories)
        benchmark::RegisterBenchmark(("HostStorageFill/" + std::string(memory.name)).c_str(),
                                     BM_HostStorageFill, memory.memory)
            ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv)
{
    // --storage=... first, where present.
    if (argc > 1 && std::strncmp(argv[1], "--storage=", 10) == 0) {
        storageOption = argv[1] + 10;
        if (std::strcmp(storageOption, "plain") != 0 && std::strcmp(storageOption, "huge") != 0) {
            std::fprintf(stderr, "--storage takes plain or huge\n");
            return 2;
        }
        BMMSetStoragePages(*storageOption == 'h' ? StoragePages::Huge : StoragePages::Plain);
        argv[1] = argv[0];
        --argc;
        ++argv;
    } else {
        BMMSetStoragePages(StoragePages::Plain);
    }
    if (argc == 5 && std::strcmp(argv[1], "--first-call") == 0)
        return RunFirstCall(argv[2], argv[3], argv[4]);
    // --make-frame typical|noisy FILE: the frame as a compressed RGBA PIC
    // file, for the programs that time others on it (bench/first-calls.sh).
    if (argc == 4 && std::strcmp(argv[1], "--make-frame") == 0)
        return WriteFrameFile(std::strcmp(argv[2], "noisy") == 0 ? kNoisy : kTypical, true, true,
                              argv[3])
                   ? 0
                   : 1;
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

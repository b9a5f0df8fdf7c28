// Every allocation, and separately every open, read, write, seek, flush,
// close, rename, change of a file's facts (owner, mode, flags, extended
// attributes), sync, link and removal, failed in turn (tests/fault_points.h)
// under each of
// ReadImageInfo, LoadImage, WriteFrame and pictool convert, for N = 1, 2, ...
// until a run meets no fault. Each run must end with a result code of the
// operation's (or pictool's exit 1 and a line naming the cause) or succeed
// with the whole result; it leaves no temporary file and, failing, keeps the
// earlier file byte for byte. Crashes and leaks fail the program itself
// (under the sanitizers). With --all-points every N is tried; otherwise the
// first eight and then ever sparser ones, and the counts printed are the
// last fault point met.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "driver/pic_bitmap_io.h"
#include "host/bmm_functions.h"
#include "tests/fault_points.h"
#include "tests/picture_helpers.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;
using StoragePtr = std::unique_ptr<BitmapStorage, StorageDeleter>;

bool allPoints = false;

// Fault points met per operation and kind, printed at the end.
std::map<std::string, std::map<std::string, long>> pointsMet;

// One run of an operation with a fault armed: "" when every rule held,
// else what broke. `hit` tells whether the armed fault came.
using Trial = std::function<std::string(FaultKind kind, long nth, bool& hit)>;

void TryEveryPoint(const std::string& operation, const Trial& trial)
{
    for (int kindIndex = 0; kindIndex < kFaultKinds; ++kindIndex) {
        const FaultKind kind = FaultKind(kindIndex);
        long lastHit = 0;
        for (long nth = 1;; nth += allPoints || nth < 8 ? 1 : nth / 8) {
            bool hit = false;
            const std::string broken = trial(kind, nth, hit);
            EXPECT_EQ(broken, "") << operation << ", " << FaultKindName(kind) << " " << nth;
            if (!hit)
                break;
            lastHit = nth;
        }
        pointsMet[operation][FaultKindName(kind)] = lastHit;
    }
}

std::set<std::string> Entries(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

bool OneOf(BMMRES result, std::initializer_list<BMMRES> codes)
{
    for (const BMMRES code : codes)
        if (result == code)
            return true;
    return false;
}

std::string Describe(BMMRES result)
{
    BMMErrorRecord record{};
    if (BMMReportedErrorCount() > 0)
        BMMGetReportedError(BMMReportedErrorCount() - 1, &record);
    return "result " + std::to_string(result) + " (" + record.message + ")";
}

// `bytes` with facts a replacement takes over: a user attribute and the
// no-dump flag, where the file system keeps them.
void WriteEarlierFile(const std::string& path, const Bytes& bytes)
{
    WriteFileBytes(path, bytes);
    setxattr(path.c_str(), "user.note", "kept", 4, 0);
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    if (file >= 0 && ioctl(file, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_NODUMP_FL;
        ioctl(file, FS_IOC_SETFLAGS, &flags);
    }
    if (file >= 0)
        close(file);
}

struct Layout {
    bool withAlpha;
    bool compressed;
    std::string Name() const
    {
        return std::string(withAlpha ? "RGBA" : "RGB") + (compressed ? " compressed" : " raw");
    }
};
const Layout kLayouts[] = {{false, false}, {true, false}, {false, true}, {true, true}};

constexpr int kWidth = 200;
constexpr int kHeight = 100;

class FaultInjectionTest : public ::testing::Test {
protected:
    TempDir dir;
    BitmapManager manager;
    Pixels picture = MakeNoisePicture(kWidth, kHeight, 21);

    // Writes the picture in `layout` to `path` with no fault armed.
    void WritePicture(const Layout& layout, const std::string& path)
    {
        Bitmap frame(&manager);
        frame.SetStorage(MakeStorage(kWidth, kHeight, picture));
        PicBitmapIO writer;
        writer.options.withAlpha = layout.withAlpha ? 1 : 0;
        writer.options.rgbCompressed = layout.compressed ? 1 : 0;
        BitmapInfo info;
        info.SetName(path.c_str());
        ASSERT_EQ(writer.OpenForWrite(&info, &frame), 0);
        ASSERT_EQ(writer.WriteFrame(kSingleFrame), 0);
    }
};

TEST_F(FaultInjectionTest, ReadImageInfoAndLoadImage)
{
    for (const Layout& layout : kLayouts) {
        const std::string path = dir.File(layout.withAlpha ? "a.pic" : "b.pic");
        WritePicture(layout, path);
        if (!layout.withAlpha) {
            // Bytes after the last row, which the reader seeks back over.
            Bytes bytes = ReadFileBytes(path);
            bytes.insert(bytes.end(), {7, 7, 7});
            WriteFileBytes(path, bytes);
        }
        const std::set<std::string> before = Entries(dir.Path());
        if (layout.withAlpha && layout.compressed)
            TryEveryPoint("ReadImageInfo", [&](FaultKind kind, long nth, bool& hit) {
                PicBitmapIO driver;
                BitmapInfo info;
                info.SetName(path.c_str());
                ArmFault(kind, nth);
                const BMMRES result = driver.ReadImageInfo(&info);
                hit = DisarmFault();
                if (result == 0)
                    return info.Width() == kWidth && info.Height() == kHeight &&
                                   info.Type() == kImageType32WithAlpha
                               ? std::string()
                               : "wrong image information";
                return OneOf(result, {kResultSystemError, kResultNoMemory, kResultBadHeader})
                           ? std::string()
                           : Describe(result);
            });
        const Pixels expected = HighBytesOnly(picture, layout.withAlpha);
        TryEveryPoint("LoadImage " + layout.Name(), [&](FaultKind kind, long nth, bool& hit) {
            PicBitmapIO driver;
            BitmapInfo info;
            info.SetName(path.c_str());
            Bitmap bitmap(&manager);
            BMMRES result = 0xEEEE;
            ArmFault(kind, nth);
            StoragePtr loaded(driver.LoadImage(&info, &bitmap, &result));
            hit = DisarmFault();
            if (Entries(dir.Path()) != before)
                return std::string("the folder changed");
            if (loaded != nullptr)
                return result == 0 && ReadStorage(loaded.get()) == expected
                           ? std::string()
                           : "a load reported whole is not: " + Describe(result);
            return OneOf(result,
                         {kResultSystemError, kResultNoMemory, kResultBadHeader, kResultNoStorage})
                       ? std::string()
                       : Describe(result);
        });
    }
}

TEST_F(FaultInjectionTest, WriteFrame)
{
    const Bytes earlier = {1, 2, 3};
    for (const Layout& layout : kLayouts) {
        const std::string reference = dir.File("reference.pic");
        WritePicture(layout, reference);
        const Bytes written = ReadFileBytes(reference);
        for (const bool replacing : {true, false}) {
            TempDir folder;
            const std::string target = folder.File("t.pic");
            TryEveryPoint("WriteFrame " + layout.Name() + (replacing ? ", replacing" : ", new"),
                          [&](FaultKind kind, long nth, bool& hit) {
                              if (replacing)
                                  WriteEarlierFile(target, earlier);
                              else
                                  fs::remove(target);
                              Bitmap frame(&manager);
                              frame.SetStorage(MakeStorage(kWidth, kHeight, picture));
                              PicBitmapIO writer;
                              writer.options.withAlpha = layout.withAlpha ? 1 : 0;
                              writer.options.rgbCompressed = layout.compressed ? 1 : 0;
                              BitmapInfo info;
                              info.SetName(target.c_str());
                              if (writer.OpenForWrite(&info, &frame) != 0)
                                  return std::string("not opened for writing");
                              ArmFault(kind, nth);
                              const BMMRES result = writer.WriteFrame(kSingleFrame);
                              hit = DisarmFault();
                              const std::set<std::string> entries = Entries(folder.Path());
                              if (result == 0)
                                  return entries == std::set<std::string>{"t.pic"} &&
                                                 ReadFileBytes(target) == written
                                             ? std::string()
                                             : "a frame reported written is not";
                              if (!OneOf(result, {kResultSystemError, kResultNoMemory}))
                                  return Describe(result);
                              if (!replacing)
                                  return entries.empty() ? std::string()
                                                         : "a failed frame left a file";
                              return entries == std::set<std::string>{"t.pic"} &&
                                             ReadFileBytes(target) == earlier
                                         ? std::string()
                                         : "a failed frame changed the folder";
                          });
        }
    }
}

// pictool with the fault points preloaded, as its users run it.
class PictoolFaults : public FaultInjectionTest {
protected:
    std::string RunFaulted(const std::vector<std::string>& arguments, FaultKind kind, long nth,
                           bool& hit, ProcessResult& run)
    {
        const std::string report = dir.File("hit");
        fs::remove(report);
        TempDir captured;
        const std::string asanOptions = std::getenv("ASAN_OPTIONS") != nullptr
                                            ? std::string(std::getenv("ASAN_OPTIONS")) + ":"
                                            : std::string();
        // The sanitizer's runtime is loaded after the preloaded module, and
        // its reports end the run with a code of their own.
        setenv("ASAN_OPTIONS", (asanOptions + "verify_asan_link_order=0:exitcode=99").c_str(), 1);
        setenv("LSAN_OPTIONS", "suppressions=" FAULT_POINTS_LSAN_SUPPRESSIONS, 1);
        setenv("LD_PRELOAD", FAULT_POINTS_PRELOAD_PATH, 1);
        setenv("PIC_FAULT_KIND", FaultKindName(kind), 1);
        setenv("PIC_FAULT_NTH", std::to_string(nth).c_str(), 1);
        setenv("PIC_FAULT_REPORT", report.c_str(), 1);
        setenv("TMPDIR", scratch.Path().c_str(), 1);
        run = RunProgram(ProgramBesideTest("pictool"), arguments, captured.Path());
        for (const char* name : {"LD_PRELOAD", "PIC_FAULT_KIND", "PIC_FAULT_NTH",
                                 "PIC_FAULT_REPORT", "TMPDIR", "LSAN_OPTIONS"})
            unsetenv(name);
        if (asanOptions.empty())
            unsetenv("ASAN_OPTIONS");
        else
            setenv("ASAN_OPTIONS", asanOptions.substr(0, asanOptions.size() - 1).c_str(), 1);
        hit = FileExists(report);
        fs::remove(report);
        if (!Entries(scratch.Path()).empty())
            return "a staging file was left";
        return "";
    }

    TempDir scratch; // pictool's temporary folder
};

TEST_F(PictoolFaults, ConvertBothWays)
{
    TempDir work;
    const std::string pic = work.File("in.pic");
    WritePicture({true, true}, pic);
    const Bytes earlier = {1, 2, 3};
    struct Direction {
        std::string name;
        std::string input;
        std::string output;
    };
    // Each format this pictool writes, read back and written from PIC.
    std::vector<Direction> directions;
    for (const char* extension : {"png", "tif", "exr", "jpg", "pam"}) {
        const std::string image = work.File(std::string("in.") + extension);
        ProcessResult made = RunProgram(ProgramBesideTest("pictool"),
                                        {"convert", pic, image, "--quiet"}, dir.Path());
        if (made.exitCode != 0)
            continue; // not in this build
        directions.push_back({std::string("pictool convert ") + extension + " to PIC", image,
                              work.File(std::string("out-") + extension + ".pic")});
        directions.push_back({std::string("pictool convert PIC to ") + extension, pic,
                              work.File(std::string("out.") + extension)});
    }
    // A comment read from the PIC file on its own: lost to a failed read, it
    // must fail the frame, not leave an output without it.
    const std::string commented = work.File("commented.pic");
    ProcessResult made =
        RunProgram(ProgramBesideTest("pictool"),
                   {"convert", pic, commented, "--comment", "take 2", "--quiet"}, dir.Path());
    ASSERT_EQ(made.exitCode, 0) << made.err;
    directions.push_back(
        {"pictool convert PIC with a comment to png", commented, work.File("commented.png")});
    for (const Direction& direction : directions) {
        const std::vector<std::string> arguments = {"convert", direction.input, direction.output,
                                                    "--quiet", "--jobs",        "1"};
        ProcessResult clean = RunProgram(ProgramBesideTest("pictool"), arguments, dir.Path());
        ASSERT_EQ(clean.exitCode, 0) << clean.err;
        const Bytes written = ReadFileBytes(direction.output);
        const std::set<std::string> entries = Entries(work.Path());
        TryEveryPoint(direction.name, [&](FaultKind kind, long nth, bool& hit) {
            WriteEarlierFile(direction.output, earlier);
            ProcessResult run;
            const std::string broken = RunFaulted(arguments, kind, nth, hit, run);
            if (!broken.empty())
                return broken;
            if (Entries(work.Path()) != entries)
                return "the folder changed: " + run.err;
            const Bytes now = ReadFileBytes(direction.output);
            if (run.exitCode == 0)
                return now == written ? std::string() : "a file reported written is not";
            if (run.exitCode != 1 || run.err.find("pictool: ") == std::string::npos)
                return "exit " + std::to_string(run.exitCode) + ": " + run.err;
            // Standard output fails as the program ends, the file written.
            const bool afterWards =
                run.err.find("cannot write standard output") != std::string::npos && now == written;
            return now == earlier || afterWards ? std::string()
                                                : "a failed convert changed the file: " + run.err;
        });
    }
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int index = 1; index < argc; ++index)
        allPoints = allPoints || std::string(argv[index]) == "--all-points";
    const auto start = std::chrono::steady_clock::now();
    const int status = RUN_ALL_TESTS();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("\nfault points met (%s):\n%-44s", allPoints ? "every one tried" : "a sample",
                "operation");
    for (int kind = 0; kind < kFaultKinds; ++kind)
        std::printf("%7s", FaultKindName(FaultKind(kind)));
    std::printf("\n");
    for (const auto& [operation, counts] : pointsMet) {
        std::printf("%-44s", operation.c_str());
        for (int kind = 0; kind < kFaultKinds; ++kind)
            std::printf("%7ld", counts.at(FaultKindName(FaultKind(kind))));
        std::printf("\n");
    }
    std::printf("in %.1f s\n", seconds);
    return status;
}

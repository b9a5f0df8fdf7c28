#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "driver/pic_bitmap_io.h"
#include "driver/write_rows.h"
#include "host/bmm_functions.h"
#include "pic/byte_sink.h"
#include "pic/pic_header.h"
#include "tests/picture_helpers.h"
#include "tests/progress_recorder.h"
#include "tests/test_support.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/xattr.h>
#endif

namespace {

using StoragePtr = std::unique_ptr<BitmapStorage, StorageDeleter>;

Bytes Join(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

std::set<std::string> FolderEntries(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

class WriteFrameTest : public ::testing::Test {
protected:
    TempDir dir;
    PicBitmapIO driver;
    BitmapManager manager;
    Bitmap bitmap{&manager};
    BitmapInfo output;

    void SetUp() override { BMMClearReportedErrors(); }

    void SetPicture(int width, int height, const Pixels& pixels, float aspect = 1.0f)
    {
        bitmap.SetStorage(MakeStorage(width, height, pixels, aspect));
    }

    BMMRES Open(const std::string& name)
    {
        output.SetName(name.c_str());
        return driver.OpenForWrite(&output, &bitmap);
    }

    void SetLayout(bool withAlpha, bool compressed)
    {
        driver.options.withAlpha = withAlpha ? 1 : 0;
        driver.options.rgbCompressed = compressed ? 1 : 0;
    }

    BMMErrorRecord LastError() const
    {
        BMMErrorRecord record{};
        BMMGetReportedError(BMMReportedErrorCount() - 1, &record);
        return record;
    }
};

struct ExactCase {
    const char* name;
    bool withAlpha;
    bool compressed;
    int width;
    int height;
    Pixels pixels;
    Bytes rows; // what follows the header and packets
};

TEST_F(WriteFrameTest, WritesEachLayoutByteForByte)
{
    const BMM_Color_64 p{0x0A00, 0x1400, 0x1E00, 0x80FF};
    const BMM_Color_64 q{0x12FF, 0x0001, 0xFFFF, 0x0000};
    const ExactCase cases[] = {
        {"2x1 raw rgb", false, false, 2, 1, {p, q}, {0x0A, 0x14, 0x1E, 0x12, 0x00, 0xFF}},
        {"2x1 raw rgba", true, false, 2, 1, {p, q}, {0x0A, 0x14, 0x1E, 0x12, 0x00, 0xFF, 0x80, 0}},
        {"1x2 raw rgba: colour then alpha, row by row",
         true,
         false,
         1,
         2,
         {p, q},
         {0x0A, 0x14, 0x1E, 0x80, 0x12, 0x00, 0xFF, 0x00}},
        {"3x1 compressed rgb",
         false,
         true,
         3,
         1,
         {p, p, q},
         {0x81, 0x0A, 0x14, 0x1E, 0x00, 0x12, 0x00, 0xFF}},
        {"3x1 compressed rgba",
         true,
         true,
         3,
         1,
         {p, q, q},
         {0x00, 0x0A, 0x14, 0x1E, 0x81, 0x12, 0x00, 0xFF, 0x00, 0x80, 0x81, 0x00}},
        {"0x0 storage: header only", true, true, 0, 0, {}, {}},
    };
    for (const ExactCase& item : cases) {
        SCOPED_TRACE(item.name);
        PicBitmapIO writer;
        writer.options.withAlpha = item.withAlpha ? 1 : 0;
        writer.options.rgbCompressed = item.compressed ? 1 : 0;
        Bitmap frameBitmap(&manager);
        frameBitmap.SetStorage(MakeStorage(item.width, item.height, item.pixels, 0.75f));
        output.SetName(dir.File("exact.pic").c_str());
        ASSERT_EQ(writer.OpenForWrite(&output, &frameBitmap), 0);
        ASSERT_EQ(writer.WriteFrame(kSingleFrame), 0);
        const Bytes expected = Join(
            MakePicHeaderBytes(item.width, item.height, item.withAlpha, item.compressed, 0.75f),
            item.rows);
        EXPECT_EQ(ReadFileBytes(dir.File("exact.pic")), expected);
        EXPECT_EQ(writer.header.width, item.width);
        EXPECT_EQ(writer.header.height, item.height);
    }
}

TEST_F(WriteFrameTest, OnlyTheValueOneSetsAlphaAndCompression)
{
    const BMM_Color_64 p{0x0A00, 0x1400, 0x1E00, 0x80FF};
    SetPicture(2, 1, {p, p});
    ASSERT_EQ(Open(dir.File("flags.pic")), 0);
    for (const int flag : {0, 2, -1, 7}) {
        driver.options.withAlpha = flag;
        driver.options.rgbCompressed = flag;
        ASSERT_EQ(driver.WriteFrame(kSingleFrame), 0);
        EXPECT_EQ(ReadFileBytes(dir.File("flags.pic")), Join(MakePicHeaderBytes(2, 1, false, false),
                                                             {0x0A, 0x14, 0x1E, 0x0A, 0x14, 0x1E}))
            << flag;
    }
}

TEST_F(WriteFrameTest, StoresTheCommentAfterThePrefix)
{
    SetPicture(1, 1, {{0, 0, 0, 0}});
    SetLayout(false, false);
    std::strcpy(driver.options.comment, "lamp, take 2");
    ASSERT_EQ(Open(dir.File("comment.pic")), 0);
    ASSERT_EQ(driver.WriteFrame(kSingleFrame), 0);
    const Bytes file = ReadFileBytes(dir.File("comment.pic"));
    ASSERT_EQ(file.size(), 104u + 4 + 3);
    const std::string text(reinterpret_cast<const char*>(file.data()) + 8);
    EXPECT_EQ(text, std::string(kPicCommentPrefix) + "lamp, take 2");
}

TEST_F(WriteFrameTest, NoStorageWritesAHeaderWithZeroSize)
{
    SetLayout(false, true);
    ASSERT_EQ(Open(dir.File("empty.pic")), 0);
    ASSERT_EQ(driver.WriteFrame(kSingleFrame), 0);
    EXPECT_EQ(ReadFileBytes(dir.File("empty.pic")), MakePicHeaderBytes(0, 0, false, true, 0.0f));
}

TEST_F(WriteFrameTest, NumberedFramesAndTheSingleImageName)
{
    SetLayout(false, false);
    SetPicture(1, 1, {{0x0100, 0x0200, 0x0300, 0}});
    ASSERT_EQ(Open(dir.File("shot.pic")), 0);
    ASSERT_EQ(driver.WriteFrame(7), 0);
    bitmap.Storage()->StoreRow(0, 0, 1, Pixels{{0x0400, 0x0500, 0x0600, 0}}.data());
    ASSERT_EQ(driver.WriteFrame(8), 0);
    EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"shot0007.pic", "shot0008.pic"}));

    const Bytes head = MakePicHeaderBytes(1, 1, false, false);
    EXPECT_EQ(ReadFileBytes(dir.File("shot0007.pic")), Join(head, {1, 2, 3}));
    EXPECT_EQ(ReadFileBytes(dir.File("shot0008.pic")), Join(head, {4, 5, 6}));

    ASSERT_EQ(driver.WriteFrame(kSingleFrame), 0);
    EXPECT_EQ(ReadFileBytes(dir.File("shot.pic")), Join(head, {4, 5, 6}));

    // A negative frame other than the single-image marker has no numbered name.
    EXPECT_EQ(driver.WriteFrame(-1), kResultNoNumberedName);
    EXPECT_EQ(FolderEntries(dir.Path()).size(), 3u);
    // Reported against the output's own record, which names the template.
    EXPECT_EQ(LastError().code, kResultNoNumberedName);
    EXPECT_STREQ(LastError().file, dir.File("shot.pic").c_str());
}

TEST_F(WriteFrameTest, OpenModeRules)
{
    SetPicture(1, 1, {});
    // Writing before a successful open, and opening without a bitmap.
    EXPECT_EQ(driver.WriteFrame(kSingleFrame), kResultWrongMode);
    output.SetName(dir.File("a.pic").c_str());
    EXPECT_EQ(driver.OpenForWrite(&output, nullptr), kResultWrongMode);
    EXPECT_EQ(driver.OpenMode(), kOpenModeNone);
    EXPECT_EQ(driver.WriteFrame(kSingleFrame), kResultWrongMode);

    // The first open binds the driver for good; a second one changes nothing.
    ProgressRecorder recorder;
    output.SetUpdateWindow(recorder.Window());
    ASSERT_EQ(driver.OpenForWrite(&output, &bitmap), 0);
    Bitmap other(&manager);
    BitmapInfo otherInfo;
    otherInfo.SetName(dir.File("b.pic").c_str());
    EXPECT_EQ(driver.OpenForWrite(&otherInfo, &other), kResultWrongMode);
    EXPECT_EQ(driver.OutputBitmap(), &bitmap);
    EXPECT_STREQ(driver.OutputInfo()->Name(), dir.File("a.pic").c_str());
    EXPECT_EQ(driver.OutputInfo()->GetUpdateWindow(), recorder.Window());
    EXPECT_EQ(driver.CloseOutput(0), 1);
    EXPECT_EQ(driver.WriteFrame(kSingleFrame), 0);
    EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"a.pic"}));
}

TEST_F(WriteFrameTest, ReportsProgressAtQuarterHalfAndEnd)
{
    ProgressRecorder recorder;
    // Meanwhile the frame is written under a temporary name that names it.
    std::set<std::string> during;
    recorder.onProgress = [&](int) {
        if (during.empty())
            during = FolderEntries(dir.Path());
    };
    output.SetUpdateWindow(recorder.Window());
    SetPicture(4, 4, MakeNoisePicture(4, 4, 1));
    ASSERT_EQ(Open(dir.File("progress.pic")), 0);
    ASSERT_EQ(driver.WriteFrame(kSingleFrame), 0);
    const std::vector<std::pair<int, int>> expected = {{25, 100}, {50, 100}, {100, 100}};
    EXPECT_EQ(recorder.Messages(), expected);
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during.begin()->rfind(".progress.pic.", 0), 0u) << *during.begin();
}

// A storage that notes the most threads the process had while a row was fetched.
class ThreadCountingStorage : public BitmapStorage {
public:
    int most = 0;
    int FetchRow(int x, int y, int count, BMM_Color_64* row) override
    {
        most = std::max(most, ProcessThreadCount());
        return BitmapStorage::FetchRow(x, y, count, row);
    }
};

// A write does all its work on the caller's thread, however large the frame.
TEST_F(WriteFrameTest, MakesNoThread)
{
    auto* storage = new ThreadCountingStorage;
    BitmapInfo size;
    size.SetWidth(2000);
    size.SetHeight(200);
    ASSERT_EQ(storage->AllocatePixels(&size, nullptr, 1), 1);
    bitmap.SetStorage(storage);
    driver.options.withAlpha = 1;
    ASSERT_EQ(Open(dir.File("large.pic")), 0);
    const int before = ProcessThreadCount();
    for (int compressed : {0, 1}) {
        driver.options.rgbCompressed = compressed;
        ASSERT_EQ(driver.WriteFrame(kSingleFrame), 0);
        EXPECT_EQ(storage->most, before);
    }
}

// A failed frame leaves nothing of itself behind: an earlier file of the
// same name keeps its bytes, and no temporary file remains in the folder.
class FailedFrameTest : public WriteFrameTest {
protected:
    Bytes earlier;

    void SetUp() override
    {
        WriteFrameTest::SetUp();
        earlier = Join(MakePicHeaderBytes(1, 1, false, false), {9, 9, 9});
        WriteFileBytes(dir.File("frame.pic"), earlier);
    }

    void ExpectNothingWritten()
    {
        EXPECT_EQ(ReadFileBytes(dir.File("frame.pic")), earlier);
        EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"frame.pic"}));
    }
};

TEST_F(FailedFrameTest, TooWideOrTooHighIsRefusedBeforeWriting)
{
    const int sizes[][2] = {{32768, 1}, {1, 32768}, {65535, 2}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
        PicBitmapIO writer;
        Bitmap big(&manager);
        big.SetStorage(MakeStorage(size[0], size[1], {}));
        output.SetName(dir.File("frame.pic").c_str());
        ASSERT_EQ(writer.OpenForWrite(&output, &big), 0);
        EXPECT_EQ(writer.WriteFrame(kSingleFrame), kResultSystemError);
        EXPECT_STREQ(LastError().message, "image wider or higher than 32767 pixels");
        ExpectNothingWritten();
    }
}

TEST_F(FailedFrameTest, AFailedRowFetchKeepsTheEarlierFile)
{
    ProgressRecorder recorder;
    output.SetUpdateWindow(recorder.Window());
    SetPicture(2, 2, {});
    // The storage's info claims more columns than it holds: every fetch is refused.
    bitmap.Storage()->bi.SetWidth(3);
    for (const bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "raw");
        PicBitmapIO writer;
        writer.options.rgbCompressed = compressed ? 1 : 0;
        output.SetName(dir.File("frame.pic").c_str());
        ASSERT_EQ(writer.OpenForWrite(&output, &bitmap), 0);
        EXPECT_EQ(writer.WriteFrame(kSingleFrame), kResultSystemError);
        EXPECT_STREQ(LastError().message, "storage gave no pixels for row 0");
        ExpectNothingWritten();
    }
    const std::vector<std::pair<int, int>> noEnd = {{25, 100}, {50, 100}, {25, 100}, {50, 100}};
    EXPECT_EQ(recorder.Messages(), noEnd);
}

// Where a frame goes, against where a plain "wb" open goes. Each scene is
// built twice, once for fopen(target, "wb") and once for the frame, and both
// run as the same user (as root and as "nobody" when the tests run as root),
// in the scene's folder, with the kernel's protections for sticky folders
// on: both write or both are refused for the same reason ("wb" writing the
// frame's own bytes, so that a full disk fails both; a frame that sent
// progress was refused while writing), and the folders end alike: the frame's where
// "wb" wrote (its file where "wb" truncated one, with its links, owner,
// permission bits, attributes and flags), or as built where it was refused.
// Meanwhile no temporary file of the frame's is readable by others.
namespace fs = std::filesystem;

void MakeFile(const std::string& path, const Bytes& bytes, fs::perms mode)
{
    WriteFileBytes(path, bytes);
    fs::permissions(path, mode);
}

struct OutputScene {
    const char* name;
    const char* target; // within the scene's folder
    // Builds the scene in `folder`; false when this system cannot.
    std::function<bool(const std::string& folder, const Bytes& earlier)> build;
    bool rootOnly = false; // holds only for a process that sees what root sees
};

std::string OracleOutcome(const std::string& target, const Bytes& bytes)
{
    FILE* file = std::fopen(target.c_str(), "wb");
    if (file == nullptr)
        return std::string("refused: ") + std::strerror(errno);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int error = errno;
    if (std::fclose(file) != 0 || !written)
        return std::string("refused while writing: ") + std::strerror(written ? errno : error);
    return "written";
}

// " (a temporary file readable by others)" when a file of the folder's that
// is not the scene's own ("<name>.tmp") may be read by others; else "".
std::string TemporaryFilesShown(const std::string& folder)
{
#if !defined(_WIN32)
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        struct stat facts;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0 &&
            lstat(entry.path().c_str(), &facts) == 0 && (facts.st_mode & 077) != 0)
            return " (a temporary file readable by others)";
    }
#else
    (void)folder;
#endif
    return "";
}

std::string FrameOutcome(const Pixels& picture, const std::string& target)
{
    BMMClearReportedErrors();
    ProgressRecorder recorder;
    std::string shown;
    recorder.onProgress = [&](int) { shown = shown.empty() ? TemporaryFilesShown(".") : shown; };
    BitmapManager frameManager;
    Bitmap frame(&frameManager);
    frame.SetStorage(MakeStorage(3, 2, picture));
    BitmapInfo info;
    info.SetName(target.c_str());
    info.SetUpdateWindow(recorder.Window());
    PicBitmapIO writer;
    writer.OpenForWrite(&info, &frame);
    const BMMRES result = writer.WriteFrame(kSingleFrame);
    if (result == kResultSuccess)
        return "written" + shown;
    BMMErrorRecord record{};
    BMMGetReportedError(0, &record);
    std::string outcome =
        std::string(recorder.Messages().empty() ? "refused: " : "refused while writing: ") +
        record.message;
    if (result != kResultSystemError)
        outcome += " (code " + std::to_string(result) + ")";
    return outcome + shown;
}

// Runs `work` with `folder` as the current folder.
std::string InFolder(const std::string& folder, const std::function<std::string()>& work)
{
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    const std::string answer = work();
    fs::current_path(previous);
    return answer;
}

const fs::perms kReadOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
const fs::perms kReadWrite = kReadOnly | fs::perms::owner_write;
const fs::perms kOpenFolder = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;
const fs::perms kClosedFolder = kOpenFolder & ~fs::perms::owner_write;

#if !defined(_WIN32)
// Sets (or, with `on` false, clears) inode flags such as FS_APPEND_FL; false
// where this process may not (only root may set them).
bool SetFileFlags(const std::string& path, int flags, bool on = true)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
    int current = 0;
    bool done = descriptor >= 0 && ioctl(descriptor, FS_IOC_GETFLAGS, &current) == 0;
    current = on ? current | flags : current & ~flags;
    done = done && ioctl(descriptor, FS_IOC_SETFLAGS, &current) == 0;
    if (descriptor >= 0)
        close(descriptor);
    return done;
}

// One entry of an access list as the system stores it: tag (1 the owner,
// 2 a user, 4 the group, 0x10 the mask, 0x20 others), permissions, id.
Bytes AclEntry(uint16_t tag, uint16_t permissions, uint32_t id)
{
    return Bytes{uint8_t(tag), uint8_t(tag >> 8), uint8_t(permissions), 0,
                 uint8_t(id),  uint8_t(id >> 8),  uint8_t(id >> 16),    uint8_t(id >> 24)};
}

// Mode 0640 and an access list entry for "nobody" (read and write), stored
// as the system stores it, and a user attribute: what setfacl -m
// u:nobody:rw and setfattr -n user.note make.
bool GiveAccessListAndNote(const std::string& path)
{
    Bytes list = {2, 0, 0, 0}; // version 2, then entries by tag and id
    for (const Bytes& item :
         {AclEntry(0x01, 6, ~0u), AclEntry(0x02, 6, 65534), AclEntry(0x04, 4, ~0u),
          AclEntry(0x10, 6, ~0u), AclEntry(0x20, 0, ~0u)})
        list.insert(list.end(), item.begin(), item.end());
    const char note[] = "kept";
    return setxattr(path.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) == 0 &&
           setxattr(path.c_str(), "user.note", note, sizeof note - 1, 0) == 0;
}

// A default access list on a folder, with an entry for "nobody", which every
// new file in it is born with.
bool GiveDefaultAccessList(const std::string& folder)
{
    Bytes list = {2, 0, 0, 0};
    for (const Bytes& item :
         {AclEntry(0x01, 7, ~0u), AclEntry(0x02, 4, 65534), AclEntry(0x04, 7, ~0u),
          AclEntry(0x10, 7, ~0u), AclEntry(0x20, 7, ~0u)})
        list.insert(list.end(), item.begin(), item.end());
    return setxattr(folder.c_str(), "system.posix_acl_default", list.data(), list.size(), 0) == 0;
}

// A folder anyone may add to, whose files only their owners may remove or
// rename (as /tmp).
bool MakeStickyFolder(const std::string& folder)
{
    return fs::create_directory(folder) && chmod(folder.c_str(), 01777) == 0;
}

// A symbolic link another user (1234) made; false where this process may
// not give it away (only root may).
bool PlantLink(const std::string& text, const std::string& link)
{
    return symlink(text.c_str(), link.c_str()) == 0 && lchown(link.c_str(), 1234, 1234) == 0;
}

// A tmpfs on `folder` holding t.pic (`earlier`, with a user attribute),
// filled so that one more file can be made there but not one byte more be
// stored, not even an attribute: a volume at its last inode and block. False
// where this process may not mount one or the tmpfs keeps no user attributes.
bool MountNearlyFullVolume(const std::string& folder, const Bytes& earlier)
{
    const std::string file = folder + "/t.pic";
    const std::string filler = folder + "/filler";
    const std::string probe = folder + "/probe";
    if (!fs::create_directory(folder) ||
        mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k,nr_inodes=16") != 0)
        return false;
    WriteFileBytes(file, earlier);
    WriteFileBytes(filler, {});
    if (setxattr(file.c_str(), "user.note", "kept", 4, 0) != 0)
        return false;
    FILE* data = std::fopen(filler.c_str(), "ab");
    while (data != nullptr && std::fputc(0xAA, data) != EOF && std::fflush(data) == 0) {
    }
    if (data != nullptr)
        std::fclose(data);
    // The inodes' room, taken by attributes down to what one more file needs.
    const std::vector<char> value(4096, 'x');
    int count = 0;
    for (size_t size = value.size(); size > 0; size /= 2) {
        for (;;) {
            const std::string name = "user.fill" + std::to_string(count++);
            if (setxattr(filler.c_str(), name.c_str(), value.data(), size, 0) != 0)
                break;
            const int made = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (made < 0) {
                removexattr(filler.c_str(), name.c_str());
                break;
            }
            close(made);
            unlink(probe.c_str());
        }
    }
    return true;
}

// Unmounts every file system mounted below `folder`.
void UnmountBelow(const std::string& folder)
{
    std::ifstream mounts("/proc/self/mounts");
    std::vector<std::string> points;
    for (std::string device, point, rest; mounts >> device >> point && std::getline(mounts, rest);)
        if (point.compare(0, folder.size() + 1, folder + "/") == 0)
            points.push_back(point);
    for (const std::string& point : points)
        umount2(point.c_str(), MNT_DETACH);
}
#endif

// Names as long as a file's name may be (255 bytes), and a dozen shorter:
// too long for a temporary name that adds to the whole of it.
const std::string kLongestName = std::string(251, 'n') + ".pic";
const std::string kLongName = std::string(239, 'n') + ".pic";

// clang-format off
const OutputScene kOutputScenes[] = {
    {"new file", "t.pic", [](const std::string&, const Bytes&) { return true; }},
    {"earlier file", "t.pic", [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/t.pic", e, kReadWrite); return true; }},
    {"read-only file", "t.pic", [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/t.pic", e, kReadOnly); return true; }},
    {"a folder as the target", "t.pic", [](const std::string& f, const Bytes&) {
        return fs::create_directory(f + "/t.pic"); }},
    {"missing folder", "none/t.pic", [](const std::string&, const Bytes&) { return true; }},
    {"hard-linked file", "t.pic", [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/t.pic", e, kReadWrite);
        std::error_code error;
        fs::create_hard_link(f + "/t.pic", f + "/other.pic", error);
        return !error; }},
    {"link to a file", "t.pic", [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/real.pic", e, kReadWrite);
        return MakeSymbolicLink("real.pic", f + "/t.pic"); }},
    {"dangling link", "t.pic", [](const std::string& f, const Bytes&) {
        return MakeSymbolicLink("real.pic", f + "/t.pic"); }},
    {"name of 255 bytes", kLongestName.c_str(), [](const std::string&, const Bytes&) { return true; }},
#if defined(_WIN32)
    {"NUL", "NUL", [](const std::string&, const Bytes&) { return true; }},
    {"nul.pic", "nul.pic", [](const std::string&, const Bytes&) { return true; }},
    {"Wine's Z:\\dev\\null", "Z:\\dev\\null", [](const std::string&, const Bytes&) {
        return RunningUnderWine(); }},
#else
    {"writable file in a read-only folder", "sub/t.pic", [](const std::string& f, const Bytes& e) {
        fs::create_directory(f + "/sub");
        MakeFile(f + "/sub/t.pic", e, kReadWrite | fs::perms::group_write | fs::perms::others_write);
        fs::permissions(f + "/sub", kClosedFolder); return true; }},
    {"new file in a read-only folder", "sub/t.pic", [](const std::string& f, const Bytes&) {
        fs::create_directory(f + "/sub");
        fs::permissions(f + "/sub", kClosedFolder); return true; }},
    {"file of another owner", "t.pic", [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/t.pic", e, fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec &
                                      ~fs::perms::others_exec);
        return chown((f + "/t.pic").c_str(), 1234, 1234) == 0; }},
    {"dangling relative link", "t.pic", [](const std::string& f, const Bytes&) {
        return symlink("real.pic", (f + "/t.pic").c_str()) == 0; }},
    {"dangling absolute link through a relative one", "sub/t.pic",
     [](const std::string& f, const Bytes&) {
        fs::create_directory(f + "/sub");
        return symlink((f + "/real.pic").c_str(), (f + "/abs.pic").c_str()) == 0 &&
               symlink("../abs.pic", (f + "/sub/t.pic").c_str()) == 0; }},
    {"relative link to a file of mode 0640", "sub/t.pic", [](const std::string& f, const Bytes& e) {
        fs::create_directory(f + "/sub");
        MakeFile(f + "/real.pic", e, fs::perms::owner_read | fs::perms::owner_write |
                                         fs::perms::group_read);
        return symlink("../real.pic", (f + "/sub/t.pic").c_str()) == 0; }},
    {"absolute link to a read-only file", "t.pic", [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/real.pic", e, kReadOnly);
        return symlink((f + "/real.pic").c_str(), (f + "/t.pic").c_str()) == 0; }},
    {"link to a link to a missing folder", "t.pic", [](const std::string& f, const Bytes&) {
        return symlink("a.pic", (f + "/t.pic").c_str()) == 0 &&
               symlink("none/b.pic", (f + "/a.pic").c_str()) == 0; }},
    {"link to itself", "t.pic", [](const std::string& f, const Bytes&) {
        return symlink("t.pic", (f + "/t.pic").c_str()) == 0; }},
    {"link to a device", "t.pic", [](const std::string& f, const Bytes&) {
        return symlink("/dev/null", (f + "/t.pic").c_str()) == 0; }},
    {"file of mode 0640 with an access list and a user attribute", "t.pic",
     [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/t.pic", e, fs::perms::owner_read | fs::perms::owner_write |
                                      fs::perms::group_read);
        return GiveAccessListAndNote(f + "/t.pic"); }},
    {"file without an access list in a folder with a default one", "sub/t.pic",
     [](const std::string& f, const Bytes& e) {
        fs::create_directory(f + "/sub");
        MakeFile(f + "/sub/t.pic", e, kReadWrite);
        return GiveDefaultAccessList(f + "/sub"); }},
    {"append-only file", "t.pic", [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/t.pic", e, kReadWrite);
        return SetFileFlags(f + "/t.pic", FS_APPEND_FL); }},
    {"immutable file", "t.pic", [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/t.pic", e, kReadWrite);
        return SetFileFlags(f + "/t.pic", FS_IMMUTABLE_FL); }},
    {"file in an append-only folder", "sub/t.pic", [](const std::string& f, const Bytes& e) {
        fs::create_directory(f + "/sub");
        MakeFile(f + "/sub/t.pic", e, kReadWrite);
        return SetFileFlags(f + "/sub", FS_APPEND_FL); }},
    {"new file in an append-only folder", "sub/t.pic", [](const std::string& f, const Bytes&) {
        fs::create_directory(f + "/sub");
        return SetFileFlags(f + "/sub", FS_APPEND_FL); }},
    {"earlier file with an attribute on a nearly full volume", "vol/t.pic",
     [](const std::string& f, const Bytes& e) { return MountNearlyFullVolume(f + "/vol", e); }},
    {"another user's link in a sticky folder, to a private file", "shared/out.pic",
     [](const std::string& f, const Bytes& e) {
        fs::create_directory(f + "/private");
        MakeFile(f + "/private/precious.txt", e, fs::perms::owner_read | fs::perms::owner_write);
        fs::permissions(f + "/private", fs::perms::owner_all);
        return MakeStickyFolder(f + "/shared") &&
               PlantLink("../private/precious.txt", f + "/shared/out.pic"); }},
    {"another user's link to nothing in a sticky folder", "shared/new.pic",
     [](const std::string& f, const Bytes&) {
        fs::create_directory(f + "/private");
        fs::permissions(f + "/private", fs::perms::owner_all);
        return MakeStickyFolder(f + "/shared") &&
               PlantLink("../private/new.pic", f + "/shared/new.pic"); }},
    {"another user's file in a sticky folder", "shared/t.pic", [](const std::string& f, const Bytes& e) {
        if (!MakeStickyFolder(f + "/shared"))
            return false;
        MakeFile(f + "/shared/t.pic", e, fs::perms::owner_read | fs::perms::owner_write |
                                             fs::perms::group_read | fs::perms::group_write |
                                             fs::perms::others_read | fs::perms::others_write);
        return chown((f + "/shared/t.pic").c_str(), 1234, 1234) == 0; }},
    {"file of mode 0600", "t.pic", [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/t.pic", e, fs::perms::owner_read | fs::perms::owner_write); return true; }},
    {"earlier file named in 243 bytes", kLongName.c_str(), [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/" + kLongName, e, kReadWrite); return true; }},
    {"file with the no-dump and no-atime flags", "t.pic", [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/t.pic", e, kReadWrite);
        return SetFileFlags(f + "/t.pic", FS_NODUMP_FL | FS_NOATIME_FL); }},
    {"file with a trusted attribute", "t.pic", [](const std::string& f, const Bytes& e) {
        MakeFile(f + "/t.pic", e, kReadWrite);
        return setxattr((f + "/t.pic").c_str(), "trusted.note", "kept", 4, 0) == 0; }, true},
#endif
};
// clang-format on

// Root's scenes are handed to "nobody" before it runs in them; files of a
// third owner stay theirs.
void HandOver(const std::string& folder)
{
#if !defined(_WIN32)
    if (geteuid() != 0)
        return;
    lchown(folder.c_str(), 65534, 65534);
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        struct stat facts;
        if (lstat(entry.path().c_str(), &facts) == 0 && facts.st_uid == 0)
            lchown(entry.path().c_str(), 65534, 65534);
    }
#else
    (void)folder;
#endif
}

// Opens every folder of the scene again, and takes the append-only and
// immutable flags off, so that it can be listed and removed.
void OpenFolders(const std::string& folder)
{
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
#if !defined(_WIN32)
        if (!entry.is_symlink() && (entry.is_directory() || entry.is_regular_file()))
            SetFileFlags(entry.path().string(), FS_APPEND_FL | FS_IMMUTABLE_FL, false);
#endif
        if (!entry.is_symlink() && entry.is_directory())
            fs::permissions(entry.path(), kOpenFolder);
    }
}

#if !defined(_WIN32)
// The kernel's rules against following another user's link, or writing
// another user's file, in a sticky folder (fs.protected_symlinks and
// fs.protected_regular, on in Debian), switched on while this lives and set
// back after. Where this process may not (not root), they stay as they are:
// the table holds either way.
class StickyFolderProtections {
public:
    StickyFolderProtections()
    {
        for (Setting& setting : settings) {
            std::ifstream in(setting.path);
            in >> setting.before;
            std::ofstream out(setting.path);
            setting.changed = in && (out << "1\n") && out.flush();
        }
        if (!settings[0].changed || !settings[1].changed)
            std::printf("not switched on: fs.protected_symlinks and fs.protected_regular "
                        "(not root, or no /proc/sys)\n");
    }
    ~StickyFolderProtections()
    {
        for (const Setting& setting : settings)
            if (setting.changed)
                std::ofstream(setting.path) << setting.before << "\n";
    }
    StickyFolderProtections(const StickyFolderProtections&) = delete;
    StickyFolderProtections& operator=(const StickyFolderProtections&) = delete;

private:
    struct Setting {
        const char* path;
        std::string before;
        bool changed;
    };
    Setting settings[2] = {{"/proc/sys/fs/protected_symlinks", "", false},
                           {"/proc/sys/fs/protected_regular", "", false}};
};
#endif

// "wb"'s outcome and the frame's, in the scene's folders. Where "wb" fails
// part way, the frame may fail before it writes, keeping the earlier file.
std::string ParityOutcomes(const OutputScene& scene, const std::string& wb,
                           const std::string& frame, const Bytes& frameBytes, const Pixels& picture)
{
    // A target with a drive ("Z:\\dev\\null") is the same for both.
    std::string oracle = InFolder(wb, [&] { return OracleOutcome(scene.target, frameBytes); });
    std::string written = InFolder(frame, [&] { return FrameOutcome(picture, scene.target); });
    const std::string partWay = "refused while writing: ";
    if (oracle.compare(0, partWay.size(), partWay) == 0) {
        oracle = "refused: " + oracle.substr(partWay.size());
        written = written.compare(0, partWay.size(), partWay) == 0
                      ? "refused: " + written.substr(partWay.size())
                      : written;
    }
    return oracle + "\n" + written;
}

TEST_F(WriteFrameTest, WritesWhereWbWritesAndIsRefusedWhereItIsRefused)
{
    const Bytes earlier = Join(MakePicHeaderBytes(1, 1, false, false), {9, 9, 9});
    // Larger than a page of the nearly full volume, which "wb" frees first.
    const Pixels picture = MakeNoisePicture(48, 32, 7);
    SetPicture(48, 32, picture);
    ASSERT_EQ(Open(dir.File("reference.pic")), 0);
    ASSERT_EQ(driver.WriteFrame(kSingleFrame), 0);
    const Bytes frameBytes = ReadFileBytes(dir.File("reference.pic"));
#if !defined(_WIN32)
    const StickyFolderProtections protections;
#endif
    for (const bool asNobody : {false, true}) {
        for (const OutputScene& scene : kOutputScenes) {
            SCOPED_TRACE(std::string(scene.name) + (asNobody ? ", as nobody" : ""));
            TempDir scenes;
            const std::string wb = scenes.File("wb");
            const std::string frame = scenes.File("frame");
            fs::create_directory(wb);
            fs::create_directory(frame);
            const bool built = scene.build(wb, earlier) && scene.build(frame, earlier);
            if (!built || (asNobody && scene.rootOnly)) {
                std::printf("skipped \"%s\"%s\n", scene.name,
                            built ? " as nobody, who cannot see such attributes"
                                  : ": this system cannot build it");
#if !defined(_WIN32)
                UnmountBelow(scenes.Path());
#endif
                continue;
            }
            if (asNobody)
                HandOver(scenes.Path());
            const std::string asBuilt = DescribeFolder(frame, earlier);
            const auto run = [&] { return ParityOutcomes(scene, wb, frame, frameBytes, picture); };
            std::string outcomes;
            if (asNobody) {
                std::string skipped;
                outcomes = RunAsNobody(run, skipped);
                if (!skipped.empty()) {
                    std::printf("skipped running as nobody: %s\n", skipped.c_str());
                    return;
                }
            } else {
                outcomes = run();
            }
            const size_t split = outcomes.find('\n');
            ASSERT_NE(split, std::string::npos) << outcomes;
            EXPECT_EQ(outcomes.substr(split + 1), outcomes.substr(0, split));
            OpenFolders(wb);
            OpenFolders(frame);
            EXPECT_EQ(DescribeFolder(frame, earlier), outcomes.compare(0, 8, "refused:") == 0
                                                          ? asBuilt
                                                          : DescribeFolder(wb, earlier));
#if !defined(_WIN32)
            UnmountBelow(scenes.Path());
#endif
        }
    }
}

#if !defined(_WIN32)
TEST_F(WriteFrameTest, AReplacedFileKeepsWhatGetfaclAndGetfattrShow)
{
    if (std::system("command -v getfacl getfattr >/dev/null") != 0)
        GTEST_SKIP() << "getfacl and getfattr (Debian's acl and attr) are not installed";
    const std::string path = dir.File("t.pic");
    WriteFileBytes(path, {1, 2, 3});
    if (!GiveAccessListAndNote(path))
        GTEST_SKIP() << "this file system keeps no access lists or user attributes";
    const auto show = [&] {
        const std::string command =
            "cd " + dir.Path() + " && getfacl t.pic && getfattr -d -m - t.pic";
        std::string text;
        FILE* pipe = popen(command.c_str(), "r");
        for (int c; pipe != nullptr && (c = std::fgetc(pipe)) != EOF;)
            text += char(c);
        EXPECT_EQ(pipe != nullptr ? pclose(pipe) : -1, 0) << text;
        return text;
    };
    const std::string before = show();
    EXPECT_NE(before.find("user:nobody:rw-"), std::string::npos) << before;
    SetPicture(2, 1, MakeNoisePicture(2, 1, 5));
    ASSERT_EQ(Open(path), 0);
    ASSERT_EQ(driver.WriteFrame(kSingleFrame), 0);
    EXPECT_NE(ReadFileBytes(path), (Bytes{1, 2, 3}));
    EXPECT_EQ(show(), before);
}
#endif

TEST_F(FailedFrameTest, ANameThatFillsTheWholeBufferIsRefused)
{
    SetPicture(1, 1, {});
    ASSERT_EQ(Open(dir.File("frame.pic")), 0);
    // No terminator within the host's 260-character name field.
    std::memset(driver.OutputInfo()->NameBuffer(), 'n', kMaxPathLength);
    EXPECT_EQ(driver.WriteFrame(kSingleFrame), kResultSystemError);
    // As a template it leaves no room for a frame number.
    EXPECT_EQ(driver.WriteFrame(7), kResultNoNumberedName);
    EXPECT_EQ(LastError().code, kResultNoNumberedName);
    ExpectNothingWritten();
}

TEST_F(WriteFrameTest, TheLongestNamesAreWritten)
{
    SetPicture(1, 1, {});
    // 259 characters: a long file name, and a short one in a long folder,
    // which leaves little room for the temporary file's name.
    std::string longFile = dir.File("");
    longFile += std::string(size_t(kMaxPathLength - 1) - longFile.size() - 4, 'n') + ".pic";
    std::string longFolder = dir.File("");
    longFolder += std::string(size_t(kMaxPathLength - 1) - longFolder.size() - 6, 'f');
    const std::string shortFile = longFolder + "/a.pic";
    for (const std::string& name : {longFile, shortFile}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(name.size(), size_t(kMaxPathLength - 1));
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(name).parent_path(), error);
        if (error)
            GTEST_SKIP() << "the system refuses a folder this long: " << error.message();
        PicBitmapIO writer;
        output.SetName(name.c_str());
        ASSERT_EQ(writer.OpenForWrite(&output, &bitmap), 0);
        EXPECT_EQ(writer.WriteFrame(kSingleFrame), 0);
        EXPECT_TRUE(FileExists(name));
    }
    EXPECT_EQ(FolderEntries(longFolder), (std::set<std::string>{"a.pic"}));
}

TEST_F(WriteFrameTest, RowWritersTellAFailedWrite)
{
    WriteFileBytes(dir.File("readonly.pic"), {});
    StoragePtr storage(MakeStorage(3, 2, MakeNoisePicture(3, 2, 3)));
    for (const bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "raw");
        FILE* file = std::fopen(dir.File("readonly.pic").c_str(), "rb");
        ASSERT_NE(file, nullptr);
        RowWriteResult result;
        {
            PicByteSink sink(file);
            PicRowWriter writer(sink);
            PicWriteOptions options;
            options.compressed = compressed;
            ASSERT_EQ(writer.Start(3, 2, true, options), PicWriteResult::Written);
            result = WriteStorageRows(writer, storage.get(), 3, 2);
            if (result == RowWriteResult::Written && sink.Flush() == 0)
                result = RowWriteResult::WriteFailed;
        }
        std::fclose(file);
        EXPECT_EQ(result, RowWriteResult::WriteFailed);
    }
}

#if !defined(_WIN32)
// Lowers the largest file size this process may write, so that writes past
// it fail (EFBIG) as on a full disk; the signal that would stop the process
// is ignored meanwhile.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lowered{bytes, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
    }

private:
    rlimit saved;
    void (*savedHandler)(int);
};

TEST_F(FailedFrameTest, AWriteFailingAnywhereKeepsTheEarlierFile)
{
    SetPicture(16, 8, MakeNoisePicture(16, 8, 11));
    output.SetName(dir.File("frame.pic").c_str());
    // One frame written by a fresh driver under a file-size limit.
    const auto writeLimited = [&](bool compressed, rlim_t limit) {
        PicBitmapIO writer;
        writer.options.rgbCompressed = compressed ? 1 : 0;
        EXPECT_EQ(writer.OpenForWrite(&output, &bitmap), 0);
        FileSizeLimit limited(limit);
        return writer.WriteFrame(kSingleFrame);
    };
    for (const bool compressed : {false, true}) {
        ASSERT_EQ(writeLimited(compressed, RLIM_INFINITY), 0);
        const rlim_t size = ReadFileBytes(dir.File("frame.pic")).size();
        WriteFileBytes(dir.File("frame.pic"), earlier);
        // Fail in the header, in the packets, in the rows and at the last byte.
        for (const rlim_t limit :
             {rlim_t(0), rlim_t(60), rlim_t(104), rlim_t(109), rlim_t(300), size - 1}) {
            SCOPED_TRACE(std::string(compressed ? "compressed" : "raw") + ", limit " +
                         std::to_string(limit));
            EXPECT_EQ(writeLimited(compressed, limit), kResultSystemError);
            EXPECT_STREQ(LastError().message, std::strerror(EFBIG));
            ExpectNothingWritten();
        }
        EXPECT_EQ(writeLimited(compressed, size), 0);
        EXPECT_EQ(ReadFileBytes(dir.File("frame.pic")).size(), size);
        WriteFileBytes(dir.File("frame.pic"), earlier);
    }
}
#endif

TEST_F(FailedFrameTest, AFullDiskKeepsTheEarlierFile)
{
    SmallFileSystem disk(64 * 1024);
    if (!disk.Unavailable().empty())
        GTEST_SKIP() << disk.Unavailable();
    WriteFileBytes(disk.File("frame.pic"), earlier);
    disk.Fill();
    SetPicture(64, 64, MakeNoisePicture(64, 64, 9));
    ASSERT_EQ(Open(disk.File("frame.pic")), 0);
    EXPECT_EQ(driver.WriteFrame(kSingleFrame), kResultSystemError);
    EXPECT_STREQ(LastError().message, std::strerror(ENOSPC));
    EXPECT_EQ(ReadFileBytes(disk.File("frame.pic")), earlier);
    EXPECT_EQ(DescribeFolder(disk.File(""), earlier).find(".tmp"), std::string::npos);
}

#if !defined(_WIN32)
TEST_F(WriteFrameTest, ADeviceTargetIsWrittenDirectlyAndNeverReplaced)
{
    // Device nodes of our own (the system's null and full devices), so that a
    // fault here can only replace a file of the test's folder.
    struct Device {
        const char* name;
        unsigned minor;
        BMMRES expected;
    };
    SetPicture(2, 1, MakeNoisePicture(2, 1, 4));
    for (const Device device :
         {Device{"null.pic", 3, 0}, Device{"full.pic", 7, kResultSystemError}}) {
        const std::string path = dir.File(device.name);
        if (mknod(path.c_str(), S_IFCHR | 0666, makedev(1, device.minor)) != 0)
            GTEST_SKIP() << "this system refuses to make device nodes";
        PicBitmapIO writer;
        BitmapInfo target;
        target.SetName(path.c_str());
        ASSERT_EQ(writer.OpenForWrite(&target, &bitmap), 0);
        EXPECT_EQ(writer.WriteFrame(kSingleFrame), device.expected) << device.name;
        struct stat facts;
        ASSERT_EQ(lstat(path.c_str(), &facts), 0);
        EXPECT_TRUE(S_ISCHR(facts.st_mode)) << device.name << " was replaced";
    }
    EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"full.pic", "null.pic"}));
}
#endif

#if defined(_WIN32)
// ReplaceFileA's documented failures part way, made by a stand-in that
// leaves the files as the system may have left them and fails as it would:
// the frame ends with the earlier file or the new one under the target's
// name, never neither, and no other file.
struct PartWay {
    const char* name;
    DWORD error;
    bool earlierGone; // the earlier file is at the backup name, or gone
    bool toBackup;    // ... at the backup name
    bool newInPlace;  // the frame's file ends under the target's name
};
const PartWay* partWay = nullptr;

BOOL WINAPI FailingReplaceFile(LPCSTR replaced, LPCSTR, LPCSTR backup, DWORD, LPVOID, LPVOID)
{
    if (partWay->earlierGone) {
        if (partWay->toBackup && backup != nullptr)
            MoveFileA(replaced, backup);
        else
            DeleteFileA(replaced);
    }
    SetLastError(partWay->error);
    return FALSE;
}

TEST_F(FailedFrameTest, AReplacementFailingPartWayLeavesTheEarlierFileOrTheNewOne)
{
    const PartWay cases[] = {
        {"the replacement could not be moved, both names kept", ERROR_UNABLE_TO_MOVE_REPLACEMENT,
         false, false, false},
        {"the replacement could not be moved, the earlier file deleted",
         ERROR_UNABLE_TO_MOVE_REPLACEMENT, true, false, true},
        {"the replacement could not be moved, the earlier file at the backup name",
         ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, true, true, true},
        {"the earlier file could not be removed", ERROR_UNABLE_TO_REMOVE_REPLACED, false, false,
         false},
    };
    void* system =
        ReplaceImport("KERNEL32.dll", "ReplaceFileA", reinterpret_cast<void*>(FailingReplaceFile));
    if (system == nullptr)
        GTEST_SKIP() << "this program imports no ReplaceFileA to stand in for";
    SetPicture(2, 1, MakeNoisePicture(2, 1, 3));
    for (const PartWay& item : cases) {
        SCOPED_TRACE(item.name);
        partWay = &item;
        WriteFileBytes(dir.File("frame.pic"), earlier);
        PicBitmapIO writer;
        output.SetName(dir.File("frame.pic").c_str());
        ASSERT_EQ(writer.OpenForWrite(&output, &bitmap), 0);
        EXPECT_EQ(writer.WriteFrame(kSingleFrame), item.newInPlace ? 0 : kResultSystemError);
        EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"frame.pic"}));
        EXPECT_EQ(ReadFileBytes(dir.File("frame.pic")) != earlier, item.newInPlace);
    }
    ReplaceImport("KERNEL32.dll", "ReplaceFileA", system);
}

TEST_F(WriteFrameTest, WinesUnixDevicesAreWrittenDirectly)
{
    if (!RunningUnderWine())
        GTEST_SKIP() << "Z:\\dev is Wine's";
    SetPicture(2, 1, MakeNoisePicture(2, 1, 4));
    for (const char* device : {"Z:\\dev\\null", "Z:\\dev\\full"}) {
        BMMClearReportedErrors();
        PicBitmapIO writer;
        BitmapInfo target;
        target.SetName(device);
        ASSERT_EQ(writer.OpenForWrite(&target, &bitmap), 0);
        const bool full = std::strstr(device, "full") != nullptr;
        EXPECT_EQ(writer.WriteFrame(kSingleFrame), full ? kResultSystemError : 0) << device;
        if (full) { // the write's failure, not the open's
            EXPECT_STREQ(LastError().message, std::strerror(ENOSPC));
        }
    }
}
#endif

struct Layout {
    bool withAlpha;
    bool compressed;
};

TEST_F(WriteFrameTest, FramesLoadBackInEveryLayout)
{
    const Layout layouts[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    const int sizes[][2] = {{1, 1}, {129, 3}, {300, 7}, {32767, 1}};
    uint32_t seed = 1;
    for (const Layout& layout : layouts) {
        for (const auto& size : sizes) {
            for (const bool noise : {false, true}) {
                const int width = size[0];
                const int height = size[1];
                SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) +
                             (layout.withAlpha ? " rgba" : " rgb") +
                             (layout.compressed ? " compressed" : " raw") +
                             (noise ? " noise" : " runs"));
                const Pixels picture = noise ? MakeNoisePicture(width, height, ++seed)
                                             : MakeRunsPicture(width, height, ++seed);
                PicBitmapIO writer;
                writer.options.withAlpha = layout.withAlpha ? 1 : 0;
                writer.options.rgbCompressed = layout.compressed ? 1 : 0;
                Bitmap frame(&manager);
                frame.SetStorage(MakeStorage(width, height, picture));
                output.SetName(dir.File("trip.pic").c_str());
                ASSERT_EQ(writer.OpenForWrite(&output, &frame), 0);
                ASSERT_EQ(writer.WriteFrame(kSingleFrame), 0);

                PicBitmapIO reader;
                BitmapInfo info;
                info.SetName(dir.File("trip.pic").c_str());
                BMMRES status = 0xEEEE;
                StoragePtr loaded(reader.LoadImage(&info, &frame, &status));
                ASSERT_NE(loaded, nullptr);
                EXPECT_EQ(status, 0);
                EXPECT_TRUE(ReadStorage(loaded.get()) == HighBytesOnly(picture, layout.withAlpha));
            }
        }
    }
}

} // namespace

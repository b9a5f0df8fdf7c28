#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
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
#include <sys/resource.h>
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
    output.SetUpdateWindow(recorder.Window());
    SetPicture(4, 4, MakeNoisePicture(4, 4, 1));
    ASSERT_EQ(Open(dir.File("progress.pic")), 0);
    ASSERT_EQ(driver.WriteFrame(kSingleFrame), 0);
    const std::vector<std::pair<int, int>> expected = {{25, 100}, {50, 100}, {100, 100}};
    EXPECT_EQ(recorder.Messages(), expected);
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
        EXPECT_EQ(LastError().code, kResultSystemError);
        ExpectNothingWritten();
    }
    const std::vector<std::pair<int, int>> noEnd = {{25, 100}, {50, 100}, {25, 100}, {50, 100}};
    EXPECT_EQ(recorder.Messages(), noEnd);
}

TEST_F(FailedFrameTest, NamesThatCannotBeCreated)
{
    SetPicture(1, 1, {});
    std::filesystem::create_directory(dir.File("folder.pic"));
    const std::string names[] = {
        dir.File("missing") + "/frame.pic", // a folder that does not exist
        dir.File("folder.pic"),             // a folder of that name
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        PicBitmapIO writer;
        output.SetName(name.c_str());
        ASSERT_EQ(writer.OpenForWrite(&output, &bitmap), 0);
        EXPECT_EQ(writer.WriteFrame(kSingleFrame), kResultSystemError);
        EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"folder.pic", "frame.pic"}));
        EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.pic")));
    }
}

#if !defined(_WIN32)
TEST_F(FailedFrameTest, AFolderThatCannotBeWrittenKeepsTheEarlierFile)
{
    // A folder of mode 0555. Root writes anywhere, so as root the frame is
    // written by a child process that has given up root for "nobody".
    SetPicture(2, 2, MakeNoisePicture(2, 2, 5));
    ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    ASSERT_EQ(Open(dir.File("frame.pic")), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(100);
        _exit(driver.WriteFrame(kSingleFrame));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(dir.Path().c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kResultSystemError);
    ExpectNothingWritten();
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
            result = compressed ? WriteCompressedRows(sink, storage.get(), 3, 2, 1)
                                : WriteRawRows(sink, storage.get(), 3, 2, 1);
            if (result == RowWriteResult::Written && sink.Flush() == 0)
                result = RowWriteResult::Failed;
        }
        std::fclose(file);
        EXPECT_EQ(result, RowWriteResult::Failed);
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
            EXPECT_EQ(LastError().code, kResultSystemError);
            ExpectNothingWritten();
        }
        EXPECT_EQ(writeLimited(compressed, size), 0);
        EXPECT_EQ(ReadFileBytes(dir.File("frame.pic")).size(), size);
        WriteFileBytes(dir.File("frame.pic"), earlier);
    }
}
#endif

#if !defined(_WIN32)
TEST_F(WriteFrameTest, ALinkedTargetIsWrittenThroughAndKeepsItsPermissions)
{
    SetPicture(2, 1, MakeNoisePicture(2, 1, 3));
    WriteFileBytes(dir.File("real.pic"), {1, 2, 3});
    ASSERT_EQ(chmod(dir.File("real.pic").c_str(), 0640), 0);
    ASSERT_EQ(symlink("real.pic", dir.File("link.pic").c_str()), 0);
    ASSERT_EQ(Open(dir.File("link.pic")), 0);
    ASSERT_EQ(driver.WriteFrame(kSingleFrame), 0);

    struct stat facts;
    ASSERT_EQ(lstat(dir.File("link.pic").c_str(), &facts), 0);
    EXPECT_TRUE(S_ISLNK(facts.st_mode));
    ASSERT_EQ(stat(dir.File("real.pic").c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(dir.File("real.pic")).size(), 104u + 8u + 2u * 4u + 2u * 2u);
    EXPECT_EQ(FolderEntries(dir.Path()), (std::set<std::string>{"link.pic", "real.pic"}));
}

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

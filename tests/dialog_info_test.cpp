// The image information dialog through PIC.BMI's driver table, in a real
// window under Wine: the texts it shows for a file, and the calls that show
// nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "driver/pic_options.h"
#include "host/bitmap_info.h"
#include "pic/pic_header.h"
#include "tests/dialog_test_support.h"
#include "tests/test_support.h"

namespace {

const char kInfoCaption[] = "Softimage Picture Information";
constexpr int kName = 1034, kResolution = 1035, kType = 1036, kAspect = 1037, kGamma = 1039,
              kFrames = 1045, kDate = 1046, kSize = 1047, kComment = 1054;
constexpr size_t kCommentOffset = 8;

// A PIC file of exactly `size` bytes: header and packets, then filler.
Bytes PicFile(int width, int height, bool withAlpha, bool compressed, float ratio, size_t size)
{
    Bytes bytes = MakePicHeaderBytes(width, height, withAlpha, compressed, ratio);
    bytes.resize(std::max(size, bytes.size()), 0x55);
    return bytes;
}

// Gives the file a last-write time that is `local` in the current zone.
bool SetLocalWriteTime(const std::string& path, const SYSTEMTIME& local)
{
    SYSTEMTIME universal;
    FILETIME stamp;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) ||
        !SystemTimeToFileTime(&universal, &stamp))
        return false;
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool set = SetFileTime(file, nullptr, nullptr, &stamp) != 0;
    CloseHandle(file);
    return set;
}

class InfoDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver = plugin.NewDriver();
        ASSERT_NE(driver, nullptr) << "PIC.BMI did not load or made no driver";
    }

    std::string Write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir.File(name);
        WriteFileBytes(path, bytes);
        return path;
    }

    // Shows the dialog; the robot reads every field, checks the layout with
    // them filled in, and presses OK.
    BMMRES Show(BitmapInfo* imageInfo, const char* fileName)
    {
        shown.clear();
        std::vector<std::string> layoutFaults;
        DialogRobot robot(kInfoCaption, [&](HWND dialog) {
            for (int id :
                 {kName, kResolution, kType, kAspect, kGamma, kFrames, kDate, kSize, kComment})
                shown[id] = ItemText(dialog, id);
            layoutFaults = LayoutFaults(dialog);
            Click(dialog, IDOK);
        });
        const BMMRES result = driver->ShowImageInfo(nullptr, imageInfo, fileName);
        robot.Finish();
        sawDialog = robot.SawDialog();
        EXPECT_FALSE(robot.LeftOpen());
        EXPECT_EQ(layoutFaults, std::vector<std::string>());
        return result;
    }

    PluginModule plugin;
    BitmapIOPtr driver;
    TempDir dir;
    BitmapInfo info;
    std::map<int, std::string> shown;
    bool sawDialog = false;
};

TEST_F(InfoDialogTest, ShowsWhatTheFileHolds)
{
    struct Case {
        bool withAlpha;
        bool compressed;
        float ratio;
        int width, height;
        const char* type;
        const char* aspect;
        const char* resolution;
    };
    const Case cases[] = {
        {true, true, 4.0f / 3.0f, 640, 480, "32 Bits (RGBA)", "1.33", "640x480"},
        {false, false, 1.0f, 1, 32767, "24 Bits (RGB)", "1.00", "1x32767"},
        {true, false, 0.5f, 720, 486, "32 Bits (RGBA)", "0.50", "720x486"},
        {false, true, 2.0f / 3.0f, 3, 2, "24 Bits (RGB)", "0.67", "3x2"},
        {false, false, 1.0f, 40000, 65535, "24 Bits (RGB)", "1.00", "40000x65535"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.resolution);
        const std::string path = Write("shown.pic", PicFile(each.width, each.height, each.withAlpha,
                                                            each.compressed, each.ratio, 1000));
        EXPECT_EQ(Show(&info, path.c_str()), 0);
        EXPECT_TRUE(sawDialog);
        EXPECT_EQ(shown[kName], path);
        EXPECT_EQ(shown[kResolution], each.resolution);
        EXPECT_EQ(shown[kType], each.type);
        EXPECT_EQ(shown[kAspect], each.aspect);
        EXPECT_EQ(shown[kGamma], "1.00");
        EXPECT_EQ(shown[kFrames], "1");
        EXPECT_EQ(shown[kSize], "1000");
        EXPECT_EQ(shown[kComment], kPicCommentPrefix);
    }
}

TEST_F(InfoDialogTest, DateIsLocalTimeWithEveryFieldPadded)
{
    struct Case {
        SYSTEMTIME local; // year, month, day of week, day, hour, minute, second, ms
        const char* shown;
    };
    const Case cases[] = {
        {{1999, 2, 0, 3, 9, 5, 7, 0}, "1999/02/03 09:05:07"},
        {{2025, 12, 0, 31, 23, 59, 58, 0}, "2025/12/31 23:59:58"},
        {{2004, 7, 0, 1, 0, 0, 0, 0}, "2004/07/01 00:00:00"},
    };
    const std::string path = Write("dated.pic", PicFile(4, 4, false, false, 1.0f, 0));
    for (const Case& each : cases) {
        SCOPED_TRACE(each.shown);
        ASSERT_TRUE(SetLocalWriteTime(path, each.local));
        EXPECT_EQ(Show(&info, path.c_str()), 0);
        EXPECT_EQ(shown[kDate], each.shown);
    }
}

TEST_F(InfoDialogTest, CommentOfEightyBytesWithoutZeroShowsWhole)
{
    Bytes bytes = PicFile(2, 2, true, true, 1.0f, 0);
    std::string eighty;
    for (int i = 0; i < 80; ++i)
        eighty += char('A' + i % 26);
    std::memcpy(&bytes[kCommentOffset], eighty.data(), 80);
    const std::string path = Write("eighty.pic", bytes);
    EXPECT_EQ(Show(&info, path.c_str()), 0);
    EXPECT_EQ(shown[kComment], eighty);
}

TEST_F(InfoDialogTest, NullNameReadsTheCallersInfoAndLeavesItAlone)
{
    const std::string path = Write("named.pic", PicFile(8, 6, true, true, 1.0f, 500));
    info.SetName(path.c_str());
    info.SetWidth(99);
    EXPECT_EQ(Show(&info, nullptr), 0);
    EXPECT_EQ(shown[kName], path);
    EXPECT_EQ(shown[kResolution], "8x6");
    EXPECT_EQ(shown[kSize], "500");
    EXPECT_STREQ(info.Name(), path.c_str());
    EXPECT_EQ(info.Width(), 99);

    // A given name wins over the info's, which stays as it was.
    const std::string other = Write("other.pic", PicFile(3, 5, false, false, 1.0f, 0));
    EXPECT_EQ(Show(&info, other.c_str()), 0);
    EXPECT_EQ(shown[kResolution], "3x5");
    EXPECT_STREQ(info.Name(), path.c_str());
}

TEST_F(InfoDialogTest, NameShownIsTheOneGivenWhileSizeAndDateFollowTheFullPath)
{
    Write("relative.pic", PicFile(2, 2, true, true, 1.0f, 321));
    char previous[MAX_PATH];
    ASSERT_NE(GetCurrentDirectoryA(sizeof previous, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
    const BMMRES result = Show(&info, "relative.pic");
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(shown[kName], "relative.pic");
    EXPECT_EQ(shown[kSize], "321");
    EXPECT_NE(shown[kDate], "");
}

TEST_F(InfoDialogTest, FilesThatCannotBeReadShowNothing)
{
    struct Case {
        const char* name;
        Bytes bytes;
        bool create;
        BMMRES result;
    };
    Bytes wrongMagic = PicFile(2, 2, true, true, 1.0f, 0);
    wrongMagic[0] ^= 0xFF;
    const Case cases[] = {
        {"missing.pic", {}, false, kResultSystemError},
        {"empty.pic", {}, true, kResultBadHeader},
        {"wrong_magic.pic", wrongMagic, true, kResultBadHeader},
        {"text.pic", Bytes(200, 'x'), true, kResultBadHeader},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        const std::string path = each.create ? Write(each.name, each.bytes) : dir.File(each.name);
        EXPECT_EQ(Show(&info, path.c_str()), each.result);
        EXPECT_FALSE(sawDialog);
    }
}

TEST_F(InfoDialogTest, DriverKeepsTheLayoutOfTheFileShown)
{
    const std::string path = Write("rgb_raw.pic", PicFile(4, 4, false, false, 1.0f, 0));
    EXPECT_EQ(Show(&info, path.c_str()), 0);
    PicOptions after;
    ASSERT_EQ(driver->SaveOptions(&after), 1);
    EXPECT_EQ(after.withAlpha, 0);
    EXPECT_EQ(after.rgbCompressed, 0);
}

} // namespace

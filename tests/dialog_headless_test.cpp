// Without a window system no dialog can be created: each dialog operation
// takes the path its dialog's failure gives, around portable work that is
// the same everywhere (the record, the read, the seeding of the options).
// The driver's own hooks, for when no dialogs are linked, answer alike.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/dialog_hooks.h"
#include "driver/pic_bitmap_io.h"
#include "tests/test_support.h"
#include "ui/module_instance.h"
#include "ui/module_state.h"
#include "ui/pic_dialogs.h"
#include "ui/pic_options_dialog.h"
#include "ui/text_format.h"

namespace {

// Answers ReadImageInfo itself, so that a call through the table shows.
class ReadRecordingDriver : public PicBitmapIO {
public:
    BMMRES ReadImageInfo(BitmapInfo* info) override
    {
        ++calls;
        seenInfo = info;
        seenName = info->Name();
        return answer;
    }
    int calls = 0;
    const BitmapInfo* seenInfo = nullptr;
    std::string seenName;
    BMMRES answer = kResultNoStorage;
};

// Each test runs once with the real dialogs and once with the driver's
// hooks for no dialogs.
class HeadlessDialogs : public ::testing::TestWithParam<const PicDialogHooks*> {
protected:
    void SetUp() override { SetPicDialogHooks(*GetParam()); }
    void TearDown() override { SetPicDialogHooks(kNoDialogHooks); }
};
INSTANTIATE_TEST_SUITE_P(Hooks, HeadlessDialogs,
                         ::testing::Values(&kPicDialogHooks, &kNoDialogHooks),
                         [](const auto& test) { return test.index == 0 ? "Ui" : "None"; });

TEST_P(HeadlessDialogs, AboutAnswersThePlatformsFailureValue)
{
    PicBitmapIO driver;
    EXPECT_EQ(driver.ShowAbout(nullptr), -1);
}

TEST_P(HeadlessDialogs, OptionsAnswerZeroAndKeepEveryByte)
{
    PicBitmapIO driver;
    driver.options.withAlpha = 7;
    driver.options.alphaCompressed = 0;
    std::memset(driver.options.comment, 'z', sizeof driver.options.comment); // no zero
    const PicOptions before = driver.options;
    EXPECT_EQ(driver.ShowOptions(nullptr, 0), 0);
    EXPECT_EQ(std::memcmp(&driver.options, &before, sizeof before), 0);
}

TEST_P(HeadlessDialogs, ImageInfoReadsTheFileThenAnswersZero)
{
    TempDir dir;
    const std::string path = dir.File("rgb.pic");
    WriteFileBytes(path, MakePicHeaderBytes(640, 480, false, false, 4.0f / 3.0f));
    PicBitmapIO driver;
    BitmapInfo info;
    info.SetName("caller.pic");
    EXPECT_EQ(driver.ShowImageInfo(nullptr, &info, path.c_str()), kResultSuccess);
    EXPECT_EQ(driver.header.width, 640);
    EXPECT_EQ(driver.options.withAlpha, 0);
    EXPECT_EQ(driver.options.rgbCompressed, 0);
    EXPECT_STREQ(info.Name(), "caller.pic");
    EXPECT_EQ(info.Width(), 0);
}

TEST_P(HeadlessDialogs, ImageInfoPassesReadFailuresOn)
{
    TempDir dir;
    WriteFileBytes(dir.File("text.pic"), Bytes(120, 'x'));
    PicBitmapIO driver;
    BitmapInfo info;
    EXPECT_EQ(driver.ShowImageInfo(nullptr, &info, dir.File("missing.pic").c_str()),
              kResultSystemError);
    EXPECT_EQ(driver.ShowImageInfo(nullptr, &info, dir.File("text.pic").c_str()), kResultBadHeader);
}

TEST_P(HeadlessDialogs, ImageInfoReadsACopyThroughTheDriversTable)
{
    ReadRecordingDriver driver;
    BitmapInfo info;
    info.SetName("from-info.pic");
    EXPECT_EQ(driver.ShowImageInfo(nullptr, &info, nullptr), kResultNoStorage);
    EXPECT_EQ(driver.seenName, "from-info.pic");
    EXPECT_NE(driver.seenInfo, &info);
    EXPECT_EQ(driver.ShowImageInfo(nullptr, &info, "given.pic"), kResultNoStorage);
    EXPECT_EQ(driver.seenName, "given.pic");
    EXPECT_EQ(driver.calls, 2);
    EXPECT_EQ(driver.ShowImageInfo(nullptr, nullptr, "no-info.pic"), kResultNoStorage);
    EXPECT_EQ(driver.seenName, "no-info.pic");
}

TEST_P(HeadlessDialogs, CurrentModuleIsRestored)
{
    int host = 0, plugin = 0;
    SetCurrentResourceModule(&host);
    RecordModuleInstance(&plugin);
    PicBitmapIO driver;
    driver.ShowOptions(nullptr, 0);
    EXPECT_EQ(CurrentResourceModule(), &host);
    EXPECT_EQ(driver.ShowImageInfo(nullptr, nullptr, "missing.pic"), kResultSystemError);
    EXPECT_EQ(CurrentResourceModule(), &host);
    try {
        ModuleStateScope scope;
        EXPECT_EQ(CurrentResourceModule(), &plugin);
        throw 1;
    } catch (int) {
    }
    EXPECT_EQ(CurrentResourceModule(), &host);
    SetCurrentResourceModule(nullptr);
    RecordModuleInstance(nullptr);
}

TEST(PicOptionsDialog, StartsWithNoButtonNoCommentAndClearBox)
{
    PicOptionsDialog dialog;
    EXPECT_EQ(dialog.depthIndex, -1);
    EXPECT_EQ(dialog.commentText, "");
    EXPECT_EQ(dialog.compressFlag, 0);
}

TEST(PicOptionsDialog, SeedsFromTheBlockAndStoresBack)
{
    struct Case {
        std::string comment; // as stored in the block (up to 80 bytes)
        std::string typed;   // what the dialog then holds
        std::string stored;  // the comment field's text after storing
    };
    const Case cases[] = {
        {"", std::string(100, 'a'), std::string(79, 'a')},
        {"old", std::string(80, 'b'), std::string(79, 'b')},
        {"old", std::string(79, 'c'), std::string(79, 'c')},
        {"a longer earlier comment", "", ""},
        {std::string(80, 'd'), "short", "short"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.typed.size());
        PicOptions block = DefaultPicOptions();
        block.withAlpha = 0;
        block.rgbCompressed = 5;
        block.alphaCompressed = 0;
        std::memcpy(block.comment, each.comment.data(), each.comment.size());
        PicOptionsDialog dialog;
        dialog.SeedFrom(block);
        EXPECT_EQ(dialog.commentText, each.comment);
        EXPECT_EQ(dialog.depthIndex, 0);
        EXPECT_EQ(dialog.compressFlag, 5);

        dialog.commentText = each.typed;
        dialog.depthIndex = 1;
        dialog.compressFlag = 0;
        dialog.StoreInto(block);
        EXPECT_EQ(block.signature, kPicOptionsSignature);
        EXPECT_EQ(block.withAlpha, 1);
        EXPECT_EQ(block.rgbCompressed, 0);
        EXPECT_EQ(block.alphaCompressed, 0);
        EXPECT_EQ(std::string(block.comment), each.stored);
        for (size_t i = each.stored.size(); i < sizeof block.comment; ++i)
            EXPECT_EQ(block.comment[i], '\0') << i;
    }
}

TEST(FormatText, HasNoLengthLimit)
{
    EXPECT_EQ(FormatText("%.2f", 4.0 / 3.0), "1.33");
    EXPECT_EQ(FormatText("%.2f", double(1.0f)), "1.00");
    EXPECT_EQ(FormatText("%d/%02d", 1999, 2), "1999/02");
    EXPECT_EQ(FormatText("%s", ""), "");
    const std::string longText(5000, 'q');
    EXPECT_EQ(FormatText("<%s>", longText.c_str()), "<" + longText + ">");
    EXPECT_EQ(FormatText("%.2f", 3.0e38).size(), 42u);
}

} // namespace

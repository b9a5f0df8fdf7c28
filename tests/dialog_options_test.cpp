// The options dialog through PIC.BMI's driver table, in a real window under
// Wine: what it shows for a block, and the block it leaves after each way out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/pic_options.h"
#include "tests/dialog_test_support.h"

namespace {

const char kOptionsCaption[] = "Softimage Picture Control";
constexpr int kDepth24 = 1001, kCompress = 1003, kDepth32 = 1004, kComment = 1007;

struct Shown {
    bool depth24 = false;
    bool depth32 = false;
    bool compress = false;
    std::string comment;
};

// The comment field's text: up to its first zero byte, at most 80 bytes.
std::string CommentText(const char (&field)[80])
{
    return std::string(field, std::find(field, field + 80, '\0'));
}

PicOptions Block(int32_t withAlpha, int32_t rgbCompressed, const std::string& comment)
{
    PicOptions block;
    std::memset(&block, 0, sizeof block);
    block.signature = 0x406CCCCD;
    block.withAlpha = withAlpha;
    block.rgbCompressed = rgbCompressed;
    block.alphaCompressed = 0; // the dialog must never touch it
    std::memcpy(block.comment, comment.data(), std::min(comment.size(), sizeof block.comment));
    return block;
}

// `block` with its comment field as the dialog stores `text`: at most 79
// bytes, then zero bytes.
PicOptions WithStoredComment(PicOptions block, const std::string& text)
{
    std::memset(block.comment, 0, sizeof block.comment);
    std::memcpy(block.comment, text.data(), std::min<size_t>(text.size(), 79));
    return block;
}

::testing::AssertionResult SameBytes(const PicOptions& got, const PicOptions& want)
{
    if (std::memcmp(&got, &want, sizeof got) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "withAlpha " << got.withAlpha << "/" << want.withAlpha << ", rgbCompressed "
           << got.rgbCompressed << "/" << want.rgbCompressed << ", alphaCompressed "
           << got.alphaCompressed << "/" << want.alphaCompressed << ", comment \""
           << CommentText(got.comment) << "\"/\"" << CommentText(want.comment) << "\"";
}

class OptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver = plugin.NewDriver();
        ASSERT_NE(driver, nullptr) << "PIC.BMI did not load or made no driver";
    }

    void Load(const PicOptions& block) { ASSERT_EQ(driver->LoadOptions(&block), 1); }

    PicOptions Saved()
    {
        PicOptions block;
        EXPECT_EQ(driver->SaveOptions(&block), 1);
        return block;
    }

    // Shows the dialog; the robot notes what it shows, then runs `act`,
    // which must close it.
    int Show(const std::function<void(HWND)>& act)
    {
        DialogRobot robot(kOptionsCaption, [&](HWND dialog) {
            shown.depth24 = IsChecked(dialog, kDepth24);
            shown.depth32 = IsChecked(dialog, kDepth32);
            shown.compress = IsChecked(dialog, kCompress);
            shown.comment = ItemText(dialog, kComment);
            layoutFaults = LayoutFaults(dialog);
            act(dialog);
        });
        const int result = driver->ShowOptions(nullptr, 0);
        robot.Finish();
        EXPECT_TRUE(robot.SawDialog());
        EXPECT_FALSE(robot.LeftOpen());
        EXPECT_EQ(layoutFaults, std::vector<std::string>());
        return result;
    }

    PluginModule plugin;
    BitmapIOPtr driver;
    Shown shown;
    std::vector<std::string> layoutFaults;
};

TEST_F(OptionsDialogTest, DefaultsShowThirtyTwoBitsCompressedAndNoComment)
{
    const PicOptions before = Saved();
    EXPECT_EQ(Show([](HWND dialog) { Click(dialog, IDOK); }), 1);
    EXPECT_FALSE(shown.depth24);
    EXPECT_TRUE(shown.depth32);
    EXPECT_TRUE(shown.compress);
    EXPECT_EQ(shown.comment, "");
    EXPECT_TRUE(SameBytes(Saved(), before));
}

TEST_F(OptionsDialogTest, OkWithoutChangeStoresWhatWasShown)
{
    struct Case {
        PicOptions loaded;
        bool depth32;
        bool compress;
        PicOptions stored;
    };
    const std::string longest(79, 'w');
    const Case cases[] = {
        {Block(0, 0, "hello"), false, false, Block(0, 0, "hello")},
        {Block(1, 1, longest), true, true, Block(1, 1, longest)},
        {Block(0, 1, ""), false, true, Block(0, 1, "")},
        // Values only LoadOptions can bring: neither stands for a button,
        // and only 1 counts as set, so they show as "24" and clear.
        {Block(7, 0, "x"), false, false, Block(0, 0, "x")},
        {Block(-1, 7, "x"), false, false, Block(0, 0, "x")},
        {Block(1, 2, "x"), true, false, Block(1, 0, "x")},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(std::string("withAlpha ") + std::to_string(each.loaded.withAlpha) +
                     ", rgbCompressed " + std::to_string(each.loaded.rgbCompressed));
        Load(each.loaded);
        EXPECT_EQ(Show([](HWND dialog) { Click(dialog, IDOK); }), 1);
        EXPECT_EQ(shown.depth32, each.depth32);
        EXPECT_EQ(shown.depth24, !each.depth32);
        EXPECT_EQ(shown.compress, each.compress);
        EXPECT_EQ(shown.comment, CommentText(each.loaded.comment));
        EXPECT_TRUE(SameBytes(Saved(), each.stored));
    }
}

TEST_F(OptionsDialogTest, EveryWayOfCancellingKeepsAllBytes)
{
    struct Case {
        const char* name;
        void (*leave)(HWND);
    };
    const Case cases[] = {
        {"Cancel button", [](HWND dialog) { Click(dialog, IDCANCEL); }},
        {"Escape", [](HWND dialog) { PressKey(dialog, VK_ESCAPE); }},
        {"close box", [](HWND dialog) { ClickCloseBox(dialog); }},
    };
    PicOptions before = Block(1, 1, std::string(80, 'k')); // no zero byte either
    before.alphaCompressed = 1;
    for (const Case& way : cases) {
        SCOPED_TRACE(way.name);
        Load(before);
        EXPECT_EQ(Show([&](HWND dialog) {
                      Click(dialog, kDepth24);
                      Click(dialog, kCompress);
                      SetItemText(dialog, kComment, "changed");
                      way.leave(dialog);
                  }),
                  0);
        EXPECT_TRUE(SameBytes(Saved(), before));
    }
}

TEST_F(OptionsDialogTest, CommentIsCutToSeventyNineBytesAndAZero)
{
    const std::string lengths[] = {std::string(100, 'c'),
                                   std::string(80, 'd'),
                                   std::string(79, 'e'),
                                   std::string(78, 'f'),
                                   "g",
                                   ""};
    for (const std::string& typed : lengths) {
        SCOPED_TRACE("typed " + std::to_string(typed.size()) + " characters");
        Load(Block(1, 1, "an earlier comment"));
        EXPECT_EQ(Show([&](HWND dialog) {
                      SetItemText(dialog, kComment, typed);
                      Click(dialog, IDOK);
                  }),
                  1);
        EXPECT_TRUE(SameBytes(Saved(), WithStoredComment(Block(1, 1, ""), typed)));
    }
}

TEST_F(OptionsDialogTest, LoadedCommentWithoutZeroShowsAllEightyBytes)
{
    std::string eighty;
    for (int i = 0; i < 80; ++i)
        eighty += char('0' + i % 10);
    Load(Block(0, 1, eighty));
    EXPECT_EQ(Show([](HWND dialog) { Click(dialog, IDOK); }), 1);
    EXPECT_EQ(shown.comment, eighty);
    EXPECT_TRUE(SameBytes(Saved(), WithStoredComment(Block(0, 1, ""), eighty)));
}

TEST_F(OptionsDialogTest, TheLastRadioClickedDecides)
{
    struct Case {
        int32_t loaded;
        std::vector<int> clicks;
        int32_t stored;
    };
    const Case cases[] = {
        {1, {kDepth24}, 0},           {0, {kDepth32}, 1},           {1, {kDepth24, kDepth32}, 1},
        {1, {kDepth32, kDepth24}, 0}, {0, {kDepth24, kDepth24}, 0},
    };
    for (const Case& each : cases) {
        Load(Block(each.loaded, 1, ""));
        EXPECT_EQ(Show([&](HWND dialog) {
                      for (int id : each.clicks)
                          Click(dialog, id);
                      Click(dialog, IDOK);
                  }),
                  1);
        EXPECT_EQ(Saved().withAlpha, each.stored);
    }
}

TEST_F(OptionsDialogTest, EveryFieldChangesTogetherOnOk)
{
    Load(Block(1, 1, "old"));
    EXPECT_EQ(Show([](HWND dialog) {
                  Click(dialog, kDepth24);
                  Click(dialog, kCompress);
                  SetItemText(dialog, kComment, "new comment");
                  Click(dialog, IDOK);
              }),
              1);
    EXPECT_TRUE(SameBytes(Saved(), Block(0, 0, "new comment")));

    // The next call starts from what the last one stored.
    EXPECT_EQ(Show([](HWND dialog) { PressKey(dialog, VK_RETURN); }), 1);
    EXPECT_TRUE(shown.depth24);
    EXPECT_FALSE(shown.compress);
    EXPECT_EQ(shown.comment, "new comment");
    EXPECT_TRUE(SameBytes(Saved(), Block(0, 0, "new comment")));
}

} // namespace

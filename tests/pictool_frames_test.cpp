// pictool's sequences and progress: the frame-name patterns it formats
// itself, oiiotool's frame lists kept as ranges, missing frames said as
// ranges, and the progress line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/window_message.h"
#include "tools/pictool/convert/frame_pattern.h"
#include "tools/pictool/convert/progress_bar.h"

namespace {

TEST(FramePattern, AcceptsOneNumberConversion)
{
    const struct {
        const char* text;
        int frame;
        const char* name;
    } cases[] = {
        {"in%d.png", 7, "in7.png"},
        {"in%04d.png", 7, "in0007.png"},
        {"in%04d.png", 123456, "in123456.png"},
        {"%3d", 7, "  7"},
        {"100%%_%02d.png", 5, "100%_05.png"},
        {"a%%%d%%", 0, "a%0%"},
        {"%9d", 1, "        1"},
        {"in.#.exr", 7, "in.0007.exr"},
        {"in.##.exr", 7, "in.00000007.exr"},
        {"in.#@.exr", 7, "in.00007.exr"},
        {"in@@@.png", 42, "in042.png"},
        {"100%%#", 3, "100%0003"},
    };
    for (const auto& c : cases) {
        FramePattern pattern;
        std::string error;
        ASSERT_TRUE(ParseFramePattern(c.text, pattern, error)) << c.text << ": " << error;
        EXPECT_EQ(FrameName(pattern, c.frame), c.name) << c.text;
    }
}

TEST(FramePattern, RefusesEverythingElse)
{
    for (const char* text : {"in.png", "",    "%%",  "%d%d", "%s",     "%x",   "%n",   "%ld",
                             "%-4d",   "%+d", "% d", "%00d", "%0d",    "%10d", "%.3d", "%*d",
                             "in%",    "%4",  "%5%", "%d%n", "%04d%s", "#%d",  "a#b@"}) {
        FramePattern pattern;
        std::string error;
        EXPECT_FALSE(ParseFramePattern(text, pattern, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(FrameList, ParsesOiiotoolListsInFull)
{
    const struct {
        const char* text;
        std::vector<int> frames; // empty: refused
    } cases[] = {
        {"1-5", {1, 2, 3, 4, 5}},
        {"0-0", {0}},
        {"42", {42}},
        {"99999999", {99999999}},
        {"1-10x4", {1, 5, 9}},
        {"1-3x9", {1}},
        {"5-1", {5, 4, 3, 2, 1}},
        {"10-1x3", {10, 7, 4, 1}},
        {"1-10y3", {2, 3, 5, 6, 8, 9}},
        {"10-1y3", {9, 8, 6, 5, 3, 2}},
        {"1,5,10-12", {1, 5, 10, 11, 12}},
        {"9,1-3,2", {9, 1, 2, 3}}, // in the order given, each once
        {"1-4,6-2", {1, 2, 3, 4, 6, 5}},
        {"0-99999999x99999999", {0, 99999999}},
        {"1-4x0", {}},
        {"1-4y1", {}}, // leaves no frame
        {"3-3y2", {}},
        {"-1", {}},
        {"1-", {}},
        {"-", {}},
        {"", {}},
        {"1,", {}},
        {",1", {}},
        {"1,,2", {}},
        {"1--2", {}},
        {"a-b", {}},
        {"1-100000000", {}},
        {"1-9999999999", {}},
        {" 1-2", {}},
        {"1-2x", {}},
        {"1x2", {}},
        {"1-2x3x4", {}},
        {"+1-2", {}},
    };
    for (const auto& c : cases) {
        FrameList list;
        std::string error;
        EXPECT_EQ(ParseFrameList(c.text, list, error), !c.frames.empty()) << c.text;
        EXPECT_EQ(error.empty(), !c.frames.empty()) << c.text;
        if (c.frames.empty())
            continue;
        std::vector<int> frames;
        FrameCursor cursor(list);
        for (int frame = 0; cursor.Next(frame);)
            frames.push_back(frame);
        EXPECT_EQ(frames, c.frames) << c.text;
        EXPECT_EQ(list.Count(), c.frames.size()) << c.text;
    }
    // A hundred million frames are two numbers until they are taken.
    FrameList all;
    std::string error;
    ASSERT_TRUE(ParseFrameList("0-99999999", all, error));
    EXPECT_EQ(all.spans.size(), 1u);
    EXPECT_EQ(all.Count(), 100000000u);
}

TEST(FrameRuns, SayFramesAsOiiotoolListsThem)
{
    const struct {
        std::vector<int> frames;
        const char* text;
    } cases[] = {
        {{7}, "7"},
        {{3, 4}, "3,4"},
        {{3, 4, 5, 6, 7, 12}, "3-7,12"},
        {{10, 7, 4, 1}, "10-1x3"},
        {{1, 2, 5, 8, 11}, "1,2-11x3"},
        {{5, 4, 3, 9}, "5-3,9"},
    };
    for (const auto& c : cases) {
        FrameRuns runs;
        for (const int frame : c.frames)
            runs.Add(frame);
        EXPECT_EQ(runs.Text(), c.text);
        EXPECT_EQ(runs.Count(), c.frames.size());
    }
}

TEST(ProgressLine, FitsTheTerminal)
{
    const struct {
        int done, frames;
        const char* label;
        int percent, columns;
        const char* line;
    } cases[] = {
        {12, 100, "out0013.pic", 45, 80, "12/100 out0013.pic  45%"},
        {0, 1, "a.pic", 100, 80, "a.pic 100%"},
        {3, 10, "/a/long/folder/out0004.pic", 7, 24, "3/10 ...ut0004.pic   7%"},
        {3, 10, "x.pic", 7, 8, "   7%"},
        {0, 1, "x.pic", 250, 80, "x.pic 100%"},
    };
    for (const auto& c : cases) {
        const std::string line = ProgressLine(c.done, c.frames, c.label, c.percent, c.columns);
        EXPECT_EQ(line, c.line) << c.label << " in " << c.columns;
        EXPECT_LT(line.size(), size_t(c.columns)) << "never as wide as the terminal";
    }
}

// The driver's progress messages reach the display through a window: the
// host's registry natively, a message-only window's procedure on Windows.
TEST(ProgressLine, DrawsTheMessagesSentToAWindowInPlace)
{
    testing::internal::CaptureStderr();
    {
        ProgressDisplay display(true, 2);
        ProgressWindow window(display);
        ASSERT_NE(window.Window(), nullptr);
        window.Begin("a.pic");
        SendProgress(window.Window(), 25, 100);
        SendProgress(window.Window(), 25, 100); // unchanged: not drawn again
        display.FrameDone();
        display.Message("pictool: b.pic: frame 2: no such file or directory");
    }
    const std::string drawn = testing::internal::GetCapturedStderr();
    EXPECT_EQ(drawn, "\r0/2 a.pic   0%"
                     "\r0/2 a.pic  25%"
                     "\r1/2 a.pic  25%"
                     "\r              \r" // cleared for the message
                     "pictool: b.pic: frame 2: no such file or directory\n"
                     "\r1/2 a.pic  25%"
                     "\r              \r");

    ProgressDisplay silent(false, 1);
    ProgressWindow none(silent);
    EXPECT_EQ(none.Window(), nullptr);
}

} // namespace

// The About box through PIC.BMI's driver table, in a real window under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/dialog_test_support.h"

namespace {

const char kAboutCaption[] = "About Softimage Picture File I/O Driver";

// The texts of the box's children, in window order.
std::vector<std::string> ChildTexts(HWND dialog)
{
    std::vector<std::string> texts;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        char text[256] = {};
        GetWindowTextA(child, text, sizeof text);
        texts.push_back(text);
    }
    return texts;
}

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver = plugin.NewDriver();
        ASSERT_NE(driver, nullptr) << "PIC.BMI did not load or made no driver";
    }

    PluginModule plugin;
    BitmapIOPtr driver;
};

TEST_F(AboutBoxTest, EveryWayOutReturnsOne)
{
    struct Case {
        const char* name;
        void (*close)(HWND);
    };
    const Case cases[] = {
        {"OK button", [](HWND box) { Click(box, IDOK); }},
        {"Enter", [](HWND box) { PressKey(box, VK_RETURN); }},
        {"Escape", [](HWND box) { PressKey(box, VK_ESCAPE); }},
        {"close box", [](HWND box) { ClickCloseBox(box); }},
    };
    for (const Case& closing : cases) {
        DialogRobot robot(kAboutCaption, closing.close);
        EXPECT_EQ(driver->ShowAbout(nullptr), 1) << closing.name;
        robot.Finish();
        EXPECT_TRUE(robot.SawDialog()) << closing.name;
        EXPECT_FALSE(robot.LeftOpen()) << closing.name;
    }
}

TEST_F(AboutBoxTest, OtherCommandsLeaveItOpen)
{
    bool openAfterCommands = false;
    std::vector<std::string> layoutFaults;
    DialogRobot robot(kAboutCaption, [&](HWND box) {
        for (int id : {0, 3, 1000, 0xFFFF})
            SendCommand(box, id);
        openAfterCommands = IsWindow(box) && IsWindowVisible(box);
        layoutFaults = LayoutFaults(box);
        Click(box, IDOK);
    });
    EXPECT_EQ(driver->ShowAbout(nullptr), 1);
    robot.Finish();
    EXPECT_TRUE(openAfterCommands);
    EXPECT_EQ(layoutFaults, std::vector<std::string>());
    EXPECT_FALSE(robot.LeftOpen());
}

TEST_F(AboutBoxTest, ShowsTheSameContentTwice)
{
    std::vector<std::string> shown[2];
    for (auto& texts : shown) {
        DialogRobot robot(kAboutCaption, [&](HWND box) {
            texts = ChildTexts(box);
            Click(box, IDOK);
        });
        EXPECT_EQ(driver->ShowAbout(nullptr), 1);
        robot.Finish();
    }
    ASSERT_EQ(shown[0].size(), 8u);
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(shown[0][1], "Softimage Picture File I/O Driver");
    EXPECT_EQ(shown[0][2], "Version 1.0 Beta");
    EXPECT_EQ(shown[0][5], "OK");
}

TEST_F(AboutBoxTest, BannerComesFromThePlugin)
{
    SIZE banner = {};
    DialogRobot robot(kAboutCaption, [&](HWND box) {
        // The picture static is the seventh control; it shows bitmap 200 at
        // its own size.
        HWND picture = GetWindow(box, GW_CHILD);
        for (int i = 0; i < 6 && picture != nullptr; ++i)
            picture = GetWindow(picture, GW_HWNDNEXT);
        auto image =
            reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP facts = {};
        if (image != nullptr && GetObjectA(image, sizeof facts, &facts) != 0)
            banner = {facts.bmWidth, facts.bmHeight};
        Click(box, IDOK);
    });
    EXPECT_EQ(driver->ShowAbout(nullptr), 1);
    robot.Finish();
    EXPECT_EQ(banner.cx, 130);
    EXPECT_EQ(banner.cy, 32);
}

} // namespace

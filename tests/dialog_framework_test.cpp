// The dialog framework on its own, in real windows under Wine: data
// exchange in both directions, the message map, the default OK and Cancel,
// the current module, and exceptions thrown inside a modal run. The
// templates are linked into this test program.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "driver/pic_bitmap_io.h"
#include "tests/dialog_test_support.h"
#include "tests/test_support.h"
#include "ui/module_instance.h"
#include "ui/module_state.h"
#include "ui/pic_dialogs.h"
#include "ui/pic_options_dialog.h"

namespace {

constexpr int kProbeTemplate = 900;
const char kProbeCaption[] = "Framework Probe";
constexpr int kA0 = 2001, kBox = 2002, kA1 = 2003, kB0 = 2004, kB1 = 2005, kEdit = 2006;

// Runs `atInit` inside OnInitDialog (on the dialog's thread, after the
// exchange to the controls); counts clicks on A1 and edit notifications.
class ProbeDialog : public ModalDialog {
public:
    explicit ProbeDialog(std::function<void(ProbeDialog&)> onInit = nullptr)
        : ModalDialog(kProbeTemplate, nullptr), atInit(std::move(onInit))
    {
    }

    // Makes the protected parts reachable from the tests.
    using ModalDialog::EndDialog;
    using ModalDialog::UpdateData;

    int radioA = -1;
    int radioB = -1;
    int box = 0;
    std::string text;
    int a1Clicks = 0;
    int editCommands = 0;

protected:
    const MessageMap* GetMessageMap() const override { return &messageMap; }
    void DoDataExchange(DataExchange& exchange) override
    {
        DDX_Radio(exchange, kA0, radioA);
        DDX_Radio(exchange, kB0, radioB);
        DDX_Check(exchange, kBox, box);
        DDX_Text(exchange, kEdit, text);
    }
    int OnInitDialog() override
    {
        ModalDialog::OnInitDialog();
        if (atInit)
            atInit(*this);
        return 1;
    }

    static const MessageMap messageMap;

private:
    void OnA1() { ++a1Clicks; }
    void OnEdit() { ++editCommands; }

    static const CommandEntry commandEntries[];
    std::function<void(ProbeDialog&)> atInit;
};

const CommandEntry ProbeDialog::commandEntries[] = {
    {kA1, static_cast<CommandHandler>(&ProbeDialog::OnA1)},
    {kEdit, static_cast<CommandHandler>(&ProbeDialog::OnEdit)},
};
const MessageMap ProbeDialog::messageMap = {&ModalDialog::messageMap, commandEntries, 2};

struct Checks {
    bool a0, box, a1, b0, b1;
};

Checks ReadChecks(HWND dialog)
{
    return {IsChecked(dialog, kA0), IsChecked(dialog, kBox), IsChecked(dialog, kA1),
            IsChecked(dialog, kB0), IsChecked(dialog, kB1)};
}

class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RecordModuleInstance(GetModuleHandleA(nullptr));
        SetCurrentResourceModule(nullptr);
        // What the module's start-up does: the driver shows these dialogs.
        SetPicDialogHooks(kPicDialogHooks);
    }
};

TEST_F(FrameworkTest, RadioToControlsChecksOnlyTheButtonAtTheIndex)
{
    struct Case {
        int index;
        bool a0, a1;
    };
    const Case cases[] = {{0, true, false},
                          {1, false, true},
                          {-1, false, false},
                          {2, false, false},
                          {1000, false, false}};
    for (const Case& each : cases) {
        SCOPED_TRACE(each.index);
        Checks shown{};
        ProbeDialog dialog([&](ProbeDialog& probe) {
            shown = ReadChecks(probe.Window());
            probe.EndDialog(kDialogOk);
        });
        dialog.radioA = each.index;
        dialog.radioB = 1;
        dialog.box = 1;
        EXPECT_EQ(dialog.DoModal(), kDialogOk);
        EXPECT_EQ(shown.a0, each.a0);
        EXPECT_EQ(shown.a1, each.a1);
        // The check box between A0 and A1 is no radio button; group B is its own.
        EXPECT_TRUE(shown.box);
        EXPECT_FALSE(shown.b0);
        EXPECT_TRUE(shown.b1);
    }
}

TEST_F(FrameworkTest, RadioFromControlsGivesThePositionOrMinusOne)
{
    struct Case {
        std::vector<int> checked;
        int radioA, radioB;
    };
    const Case cases[] = {
        {{}, -1, -1}, {{kA0}, 0, -1}, {{kA1}, 1, -1}, {{kB1}, -1, 1}, {{kA1, kB0}, 1, 0}};
    for (const Case& each : cases) {
        ProbeDialog dialog([&](ProbeDialog& probe) {
            for (int id : {kA0, kA1, kB0, kB1})
                CheckDlgButton(probe.Window(), id, BST_UNCHECKED);
            for (int id : each.checked)
                CheckDlgButton(probe.Window(), id, BST_CHECKED);
            probe.UpdateData(true);
            probe.EndDialog(kDialogOk);
        });
        dialog.radioA = 5;
        dialog.radioB = 5;
        EXPECT_EQ(dialog.DoModal(), kDialogOk);
        EXPECT_EQ(dialog.radioA, each.radioA);
        EXPECT_EQ(dialog.radioB, each.radioB);
    }
}

TEST_F(FrameworkTest, CheckAndTextGoBothWays)
{
    struct Case {
        int box;
        bool shown;
        std::string text;
    };
    const Case cases[] = {{1, true, ""},
                          {0, false, "one line"},
                          {7, false, std::string(2000, 't')},
                          {-1, false, "\xE9t\xE9"}};
    for (const Case& each : cases) {
        bool shownBox = false;
        std::string shownText;
        ProbeDialog dialog([&](ProbeDialog& probe) {
            shownBox = IsChecked(probe.Window(), kBox);
            shownText = ItemText(probe.Window(), kEdit);
            probe.box = 99;
            probe.text = "overwritten";
            probe.UpdateData(true);
            probe.EndDialog(kDialogOk);
        });
        dialog.box = each.box;
        dialog.text = each.text;
        EXPECT_EQ(dialog.DoModal(), kDialogOk);
        EXPECT_EQ(shownBox, each.shown);
        EXPECT_EQ(shownText, each.text.substr(0, 1023));
        EXPECT_EQ(dialog.box, each.shown ? 1 : 0);
        EXPECT_EQ(dialog.text, each.text);
    }
}

TEST_F(FrameworkTest, OkTakesTheControlsAndCancelDoesNot)
{
    struct Case {
        int button;
        int result;
        int radioA;
        std::string text;
    };
    const Case cases[] = {{IDOK, kDialogOk, 1, "typed"}, {IDCANCEL, kDialogCancel, 0, "kept"}};
    for (const Case& each : cases) {
        ProbeDialog dialog;
        dialog.radioA = 0;
        dialog.text = "kept";
        DialogRobot robot(kProbeCaption, [&](HWND window) {
            Click(window, kA1);
            SetItemText(window, kEdit, "typed");
            Click(window, each.button);
        });
        EXPECT_EQ(dialog.DoModal(), each.result);
        robot.Finish();
        EXPECT_EQ(dialog.radioA, each.radioA);
        EXPECT_EQ(dialog.text, each.text);
        EXPECT_EQ(dialog.a1Clicks, 1);
        // Typing sends EN_CHANGE from the edit: not a click, so not routed.
        EXPECT_EQ(dialog.editCommands, 0);
    }
}

TEST_F(FrameworkTest, FailsWhenTheTemplateIsNotInTheCurrentModule)
{
    ProbeDialog missingTemplate;
    EXPECT_EQ(ModalDialog(999, nullptr).DoModal(), kDialogFailed);

    // A module without templates made current: the plug-in's templates are
    // not found in it.
    RecordModuleInstance(GetModuleHandleA("kernel32.dll"));
    {
        ModuleStateScope scope;
        EXPECT_EQ(missingTemplate.DoModal(), kDialogFailed);
        PicOptionsDialog options;
        EXPECT_EQ(options.DoModal(), kDialogFailed);
    }
    EXPECT_EQ(CurrentResourceModule(), nullptr);
}

TEST_F(FrameworkTest, ExceptionInsideTheRunEndsItAndComesBack)
{
    int host = 0;
    SetCurrentResourceModule(reinterpret_cast<HostInstance>(&host));
    ProbeDialog throwing([](ProbeDialog&) { throw std::runtime_error("from OnInitDialog"); });
    bool caught = false;
    try {
        ModuleStateScope scope;
        throwing.DoModal();
    } catch (const std::runtime_error& failure) {
        caught = std::string(failure.what()) == "from OnInitDialog";
    }
    EXPECT_TRUE(caught);
    EXPECT_EQ(CurrentResourceModule(), reinterpret_cast<HostInstance>(&host));
    EXPECT_EQ(throwing.Window(), nullptr);

    // A dialog run afterwards is not disturbed.
    SetCurrentResourceModule(nullptr);
    ProbeDialog again([](ProbeDialog& probe) { probe.EndDialog(kDialogCancel); });
    EXPECT_EQ(again.DoModal(), kDialogCancel);
}

// The driver's two framework dialogs, run with a host module made current
// that holds no templates: they show only if the plug-in is made current for
// the run, and the host's module must be current again after every way out.
TEST_F(FrameworkTest, DriverDialogsSwitchToThePluginAndBack)
{
    const HostInstance hostModule = GetModuleHandleA("kernel32.dll");
    TempDir dir;
    const std::string path = dir.File("shown.pic");
    WriteFileBytes(path, MakePicHeaderBytes(4, 3, true, true, 1.0f));
    struct Case {
        bool options; // else image information
        const char* caption;
        int button;
        int result;
    };
    const Case cases[] = {
        {true, "Softimage Picture Control", IDOK, 1},
        {true, "Softimage Picture Control", IDCANCEL, 0},
        {false, "Softimage Picture Information", IDOK, kResultSuccess},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(std::string(each.caption) + (each.button == IDOK ? ", OK" : ", Cancel"));
        SetCurrentResourceModule(hostModule);
        PicBitmapIO driver;
        DialogRobot robot(each.caption, [&](HWND window) { Click(window, each.button); });
        const int result = each.options ? driver.ShowOptions(nullptr, 0)
                                        : driver.ShowImageInfo(nullptr, nullptr, path.c_str());
        robot.Finish();
        EXPECT_TRUE(robot.SawDialog());
        EXPECT_EQ(result, each.result);
        EXPECT_EQ(CurrentResourceModule(), hostModule);
    }
    SetCurrentResourceModule(nullptr);
}

// The About box is no framework dialog: it comes from the module's own
// handle whatever module the framework has current, and answers the
// platform's failure value when that module holds no template 101.
TEST_F(FrameworkTest, AboutBoxComesFromTheModuleHandleItself)
{
    const HostInstance withoutTemplates = GetModuleHandleA("kernel32.dll");
    SetCurrentResourceModule(withoutTemplates);
    PicBitmapIO driver;
    DialogRobot robot("About Softimage Picture File I/O Driver",
                      [](HWND window) { Click(window, IDOK); });
    EXPECT_EQ(driver.ShowAbout(nullptr), 1);
    robot.Finish();
    EXPECT_TRUE(robot.SawDialog());

    SetCurrentResourceModule(nullptr);
    RecordModuleInstance(withoutTemplates);
    EXPECT_EQ(driver.ShowAbout(nullptr), -1);
}

} // namespace

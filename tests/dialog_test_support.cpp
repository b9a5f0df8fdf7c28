#include "tests/dialog_test_support.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/class_desc.h"

PluginModule::PluginModule() : module(LoadLibraryA("PIC.BMI")) {}

PluginModule::~PluginModule()
{
    if (module != nullptr)
        FreeLibrary(module);
}

BitmapIOPtr PluginModule::NewDriver() const
{
    if (module == nullptr)
        return nullptr;
    auto classDesc = reinterpret_cast<LibClassDescFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "LibClassDesc")));
    ClassDesc* descriptor = classDesc != nullptr ? classDesc(0) : nullptr;
    if (descriptor == nullptr)
        return nullptr;
    return BitmapIOPtr(static_cast<BitmapIO*>(descriptor->NewDriver(0)));
}

namespace {

struct DialogSearch {
    const char* caption;
    HWND found;
};

// Another test program may show a dialog of the same caption at the same
// time: only this process's dialogs count.
BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[16] = {};
    char text[128] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, text, sizeof text);
    if (process == GetCurrentProcessId() && std::strcmp(className, "#32770") == 0 &&
        std::strcmp(text, search->caption) == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindOwnDialog(const std::string& caption)
{
    DialogSearch search{caption.c_str(), nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

constexpr int kPollMilliseconds = 20;
constexpr int kAppearLimit = 30000 / kPollMilliseconds;
constexpr int kCloseLimit = 10000 / kPollMilliseconds;

} // namespace

DialogRobot::DialogRobot(std::string title, Script script) : caption(std::move(title))
{
    worker = std::thread(&DialogRobot::Run, this, std::move(script));
}

DialogRobot::~DialogRobot()
{
    Finish();
}

void DialogRobot::Finish()
{
    stopWaiting = true;
    if (worker.joinable())
        worker.join();
}

void DialogRobot::Run(Script script)
{
    HWND dialog = nullptr;
    for (int poll = 0; poll < kAppearLimit && !stopWaiting; ++poll) {
        dialog = FindOwnDialog(caption);
        if (dialog != nullptr)
            break;
        Sleep(kPollMilliseconds);
    }
    if (dialog == nullptr)
        return;
    sawDialog = true;
    script(dialog);
    for (int poll = 0; IsWindow(dialog); ++poll) {
        if (poll >= kCloseLimit) {
            leftOpen = true;
            PostMessageA(dialog, WM_CLOSE, 0, 0);
        }
        Sleep(kPollMilliseconds);
    }
}

std::string ItemText(HWND dialog, int id)
{
    char text[1024] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void SetItemText(HWND dialog, int id, const std::string& text)
{
    SetDlgItemTextA(dialog, id, text.c_str());
}

bool IsChecked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void Click(HWND dialog, int id)
{
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

// The dialog's message loop passes keys through IsDialogMessage, which turns
// Escape into IDCANCEL and Enter into the default button.
void PressKey(HWND dialog, WPARAM virtualKey)
{
    PostMessageA(dialog, WM_KEYDOWN, virtualKey, 1);
    PostMessageA(dialog, WM_KEYUP, virtualKey, 1 | (3u << 30));
}

void ClickCloseBox(HWND dialog)
{
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void SendCommand(HWND dialog, int controlId)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED), 0);
}

// The progress line's console and update windows on Windows: a
// message-only window of the thread that runs the drivers.
#include <io.h>
#include <windows.h>

#include "tools/pictool/convert/progress_bar.h"

namespace {

constexpr char kWindowClass[] = "PictoolProgressWindow";

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    if (message == kProgressMessage) {
        auto* receiver =
            reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (receiver != nullptr)
            receiver->OnProgress((long long)first, (long long)second);
        return 0;
    }
    return DefWindowProcA(window, message, first, second);
}

HWND CreateProgressWindow(ProgressWindow* receiver)
{
    static const ATOM windowClass = [] {
        WNDCLASSA description{};
        description.lpfnWndProc = ProgressWindowProc;
        description.hInstance = GetModuleHandleA(nullptr);
        description.lpszClassName = kWindowClass;
        return RegisterClassA(&description);
    }();
    if (windowClass == 0)
        return nullptr;
    HWND window = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (window != nullptr)
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(receiver));
    return window;
}

} // namespace

bool StderrIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

int TerminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO screen;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &screen))
        return screen.srWindow.Right - screen.srWindow.Left + 1;
    return 80;
}

ProgressWindow::ProgressWindow(ProgressDisplay& shared) : display(shared)
{
    if (display.Enabled())
        window = CreateProgressWindow(this);
}

ProgressWindow::~ProgressWindow()
{
    if (window != nullptr)
        DestroyWindow(window);
}

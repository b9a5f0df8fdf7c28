#include "tools/pictool/convert/progress_bar.h"

#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>

#include "host/window_message.h"
#endif

namespace {

int Percent(long long done, long long total)
{
    if (total <= 0 || done >= total)
        return 100;
    if (done <= 0)
        return 0;
    return int(done * 100 / total);
}

#if defined(_WIN32)
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
#else
intptr_t OnHostMessage(void* context, unsigned message, uintptr_t first, intptr_t second)
{
    if (message == kProgressMessage)
        static_cast<ProgressWindow*>(context)->OnProgress((long long)first, (long long)second);
    return 0;
}
#endif

} // namespace

bool StderrIsTerminal()
{
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

int TerminalColumns()
{
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO screen;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &screen))
        return screen.srWindow.Right - screen.srWindow.Left + 1;
#else
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return 80;
}

std::string ProgressLine(int done, int frames, const std::string& label, int percent, int columns)
{
    const std::string count =
        frames > 1 ? std::to_string(done) + "/" + std::to_string(frames) + " " : "";
    char tail[8];
    std::snprintf(tail, sizeof tail, " %3d%%", percent < 0 ? 0 : percent > 100 ? 100 : percent);
    // One column short of the width, so that the cursor never wraps.
    const size_t room = columns > 1 ? size_t(columns - 1) : 1;
    if (count.size() + std::strlen(tail) > room) // too narrow for more
        return std::string(tail).substr(std::strlen(tail) > room ? std::strlen(tail) - room : 0);
    std::string name = label;
    const size_t fixed = count.size() + std::strlen(tail);
    if (fixed + name.size() > room) {
        const size_t keep = room > fixed + 3 ? room - fixed - 3 : 0;
        name = keep == 0 ? "" : "..." + name.substr(name.size() - keep);
    }
    return count + name + tail;
}

ProgressDisplay::ProgressDisplay(bool show, int frameCount) : enabled(show), frames(frameCount) {}

ProgressDisplay::~ProgressDisplay()
{
    const std::lock_guard<std::mutex> hold(lock);
    Clear();
}

void ProgressDisplay::Show(const std::string& frameLabel, int framePercent)
{
    if (!enabled)
        return;
    const std::lock_guard<std::mutex> hold(lock);
    label = frameLabel;
    percent = framePercent;
    Draw();
}

void ProgressDisplay::FrameDone()
{
    if (!enabled)
        return;
    const std::lock_guard<std::mutex> hold(lock);
    ++done;
    Draw();
}

void ProgressDisplay::Message(const std::string& line)
{
    const std::lock_guard<std::mutex> hold(lock);
    Clear();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    if (enabled && done < frames && !label.empty())
        Draw();
}

void ProgressDisplay::Draw()
{
    const std::string line = ProgressLine(done, frames, label, percent, TerminalColumns());
    if (line == drawn)
        return;
    // Spaces cover what a longer earlier line left; then back to the end.
    std::string text = "\r" + line;
    if (drawn.size() > line.size())
        text += std::string(drawn.size() - line.size(), ' ') + "\r" + line;
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    drawn = line;
}

void ProgressDisplay::Clear()
{
    if (drawn.empty())
        return;
    std::fprintf(stderr, "\r%s\r", std::string(drawn.size(), ' ').c_str());
    std::fflush(stderr);
    drawn.clear();
}

ProgressWindow::ProgressWindow(ProgressDisplay& shared) : display(shared)
{
    if (!display.Enabled())
        return;
#if defined(_WIN32)
    window = CreateProgressWindow(this);
#else
    // Any unique handle will do: the registry only matches it.
    window = static_cast<HostWindow>(this);
    HostRegisterWindow(window, OnHostMessage, this);
#endif
}

ProgressWindow::~ProgressWindow()
{
    if (window == nullptr)
        return;
#if defined(_WIN32)
    DestroyWindow(window);
#else
    HostUnregisterWindow(window);
#endif
}

void ProgressWindow::Begin(const std::string& frameLabel)
{
    label = frameLabel;
    shownPercent = -1;
    if (window != nullptr)
        OnProgress(0, 1);
}

void ProgressWindow::OnProgress(long long doneAmount, long long total)
{
    // Redraw only when the figure changes: the loader reports every row.
    const int percent = Percent(doneAmount, total);
    if (percent == shownPercent)
        return;
    shownPercent = percent;
    display.Show(label, percent);
}

#include "tools/pictool/progress_bar.h"

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>

#include "host/window_message.h"
#endif

namespace {

constexpr int kBarCells = 30;

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
        auto* bar = reinterpret_cast<ProgressBar*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (bar != nullptr)
            bar->OnProgress((long long)first, (long long)second);
        return 0;
    }
    return DefWindowProcA(window, message, first, second);
}

HWND CreateProgressWindow(ProgressBar* bar)
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
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bar));
    return window;
}
#else
intptr_t OnHostMessage(void* context, unsigned message, uintptr_t first, intptr_t second)
{
    if (message == kProgressMessage)
        static_cast<ProgressBar*>(context)->OnProgress((long long)first, (long long)second);
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

std::string ProgressBarText(long long done, long long total, int cells)
{
    const int percent = Percent(done, total);
    const int filled = percent * cells / 100;
    std::string text = "[";
    text.append(size_t(filled), '#');
    text.append(size_t(cells - filled), '-');
    char tail[8];
    std::snprintf(tail, sizeof tail, "] %3d%%", percent);
    return text + tail;
}

ProgressBar::ProgressBar(bool enabled)
{
    if (!enabled)
        return;
#if defined(_WIN32)
    window = CreateProgressWindow(this);
#else
    // Any unique handle will do: the registry only matches it.
    window = static_cast<HostWindow>(this);
    HostRegisterWindow(window, OnHostMessage, this);
#endif
}

ProgressBar::~ProgressBar()
{
    End();
    if (window == nullptr)
        return;
#if defined(_WIN32)
    DestroyWindow(window);
#else
    HostUnregisterWindow(window);
#endif
}

void ProgressBar::Begin(const std::string& text)
{
    End();
    label = text;
    shownPercent = -1;
    if (window != nullptr)
        OnProgress(0, 1);
}

void ProgressBar::End()
{
    if (!drawing)
        return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
    drawing = false;
}

void ProgressBar::OnProgress(long long done, long long total)
{
    // Redraw only when the figure changes: the loader reports every row.
    const int percent = Percent(done, total);
    if (percent == shownPercent)
        return;
    shownPercent = percent;
    drawing = true;
    std::fprintf(stderr, "\r%s %s", label.c_str(), ProgressBarText(done, total, kBarCells).c_str());
    std::fflush(stderr);
}

// The progress line's terminal and update windows natively: a handle in
// the host's message registry.
#include <sys/ioctl.h>
#include <unistd.h>

#include "host/window_message.h"
#include "tools/pictool/convert/progress_bar.h"

namespace {

intptr_t OnHostMessage(void* context, unsigned message, uintptr_t first, intptr_t second)
{
    if (message == kProgressMessage)
        static_cast<ProgressWindow*>(context)->OnProgress((long long)first, (long long)second);
    return 0;
}

} // namespace

bool StderrIsTerminal()
{
    return isatty(STDERR_FILENO) != 0;
}

int TerminalColumns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

ProgressWindow::ProgressWindow(ProgressDisplay& shared) : display(shared)
{
    if (!display.Enabled())
        return;
    // Any unique handle will do: the registry only matches it.
    window = static_cast<HostWindow>(this);
    HostRegisterWindow(window, OnHostMessage, this);
}

ProgressWindow::~ProgressWindow()
{
    if (window != nullptr)
        HostUnregisterWindow(window);
}

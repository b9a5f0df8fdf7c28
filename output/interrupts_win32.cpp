// Windows interrupts: the console's events (Ctrl-C, Ctrl-Break, closing the
// window, logging off, shutting down). The system runs the handler on a
// thread of its own: it waits there for the deferred stretches, removes the
// listed files and lets the system's own handler end the process.
#include <windows.h>

#include "output/interrupts_platform.h"

namespace interrupts {
namespace {

// The system ends a process this long after a close, log-off or shut-down
// event whatever its handler does; a stretch that takes longer is cut short.
constexpr int kLongestWaitMs = 4000;

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (!OnInterrupt(int(event) + 1)) {
        for (int waited = 0; Deferring() && waited < kLongestWaitMs; waited += 10)
            Sleep(10);
        RemovePendingFiles();
    }
    return FALSE; // the system's own handler then ends the process
}

} // namespace

void InstallHandler()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RemoveFileQuietly(const char* name)
{
    DeleteFileA(name);
}

void EndProcess(int)
{
    WaitForTheEnd(); // the handler's thread ends it
}

void WaitForTheEnd()
{
    for (;;)
        Sleep(INFINITE);
}

} // namespace interrupts

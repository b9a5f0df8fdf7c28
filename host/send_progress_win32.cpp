#include "host/window_message.h"

#include <windows.h>

void SendProgress(HostWindow window, int done, int total)
{
    if (window != nullptr)
        SendMessageA(window, kProgressMessage, static_cast<WPARAM>(done),
                     static_cast<LPARAM>(total));
}

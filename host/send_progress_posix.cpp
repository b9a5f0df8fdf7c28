#include "host/window_message.h"

void SendProgress(HostWindow window, int done, int total)
{
    if (window != nullptr)
        HostSendMessage(window, kProgressMessage, static_cast<uintptr_t>(done), total);
}

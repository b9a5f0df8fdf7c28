#include "host/window_message.h"

#if !defined(_WIN32)
#include <map>

namespace {

struct Receiver {
    HostMessageHandler handler;
    void* context;
};

std::map<HostWindow, Receiver>& Receivers()
{
    static std::map<HostWindow, Receiver> receivers;
    return receivers;
}

} // namespace

void HostRegisterWindow(HostWindow window, HostMessageHandler handler, void* context)
{
    if (window != nullptr && handler != nullptr)
        Receivers()[window] = Receiver{handler, context};
}

void HostUnregisterWindow(HostWindow window)
{
    Receivers().erase(window);
}

intptr_t HostSendMessage(HostWindow window, unsigned message, uintptr_t first, intptr_t second)
{
    const auto found = Receivers().find(window);
    if (found == Receivers().end())
        return 0;
    return found->second.handler(found->second.context, message, first, second);
}
#endif

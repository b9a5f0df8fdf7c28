#include "host/window_message.h"

#include <map>
#include <mutex>

namespace {

struct Receiver {
    HostMessageHandler handler;
    void* context;
};

// Drivers on several threads send progress at once: the map is used under
// its lock, and a handler runs outside it (a window is unregistered only
// once nothing sends to it, as a real window is destroyed by its owner).
struct Registry {
    std::map<HostWindow, Receiver> receivers;
    std::mutex lock;
};

Registry& Receivers()
{
    static Registry registry;
    return registry;
}

} // namespace

void HostRegisterWindow(HostWindow window, HostMessageHandler handler, void* context)
{
    if (window == nullptr || handler == nullptr)
        return;
    Registry& registry = Receivers();
    const std::lock_guard<std::mutex> hold(registry.lock);
    registry.receivers[window] = Receiver{handler, context};
}

void HostUnregisterWindow(HostWindow window)
{
    Registry& registry = Receivers();
    const std::lock_guard<std::mutex> hold(registry.lock);
    registry.receivers.erase(window);
}

intptr_t HostSendMessage(HostWindow window, unsigned message, uintptr_t first, intptr_t second)
{
    Receiver receiver{};
    {
        Registry& registry = Receivers();
        const std::lock_guard<std::mutex> hold(registry.lock);
        const auto found = registry.receivers.find(window);
        if (found == registry.receivers.end())
            return 0;
        receiver = found->second;
    }
    return receiver.handler(receiver.context, message, first, second);
}

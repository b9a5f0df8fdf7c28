// Delivery of the progress message to a host window. On Windows this is
// USER32's SendMessageA; elsewhere a small registry of ours hands the message
// to whatever registered the window handle.
#pragma once

#include "host/host_api.h"

#if !defined(_WIN32)
using HostMessageHandler = intptr_t (*)(void* context, unsigned message, uintptr_t first,
                                        intptr_t second);
BMM_API void HostRegisterWindow(HostWindow window, HostMessageHandler handler, void* context);
BMM_API void HostUnregisterWindow(HostWindow window);
// 0 when no handler is registered for `window`.
BMM_API intptr_t HostSendMessage(HostWindow window, unsigned message, uintptr_t first,
                                 intptr_t second);
#endif

inline void SendProgress(HostWindow window, int done, int total)
{
    if (window == nullptr)
        return;
#if defined(_WIN32)
    SendMessageA(window, kProgressMessage, static_cast<WPARAM>(done), static_cast<LPARAM>(total));
#else
    HostSendMessage(window, kProgressMessage, static_cast<uintptr_t>(done), total);
#endif
}

// Delivery of the progress message to a host window. On Windows this is
// USER32's SendMessageA; elsewhere a small registry in the host library
// hands the message to whatever registered the window handle.
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

// Sends kProgressMessage with `done` and `total` to `window`; nothing for a
// null window. Linked into the caller (library host_progress), not exported
// by the host library: a driver calls the platform itself.
void SendProgress(HostWindow window, int done, int total);

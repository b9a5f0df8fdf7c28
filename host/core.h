// The host's core library: what a plug-in calls at start-up.
#pragma once

#include "host/host_api.h"

extern "C" {
// Registers the host's custom controls for dialogs of the given module.
CORE_API void InitCustomControls(HostInstance instance);
// The instance last passed to InitCustomControls (null before), and how many
// calls there were: lets tests see the plug-in's start-up.
CORE_API HostInstance CoreCustomControlsInstance();
CORE_API int CoreCustomControlsCalls();
}

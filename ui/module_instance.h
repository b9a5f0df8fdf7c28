// The plug-in module's own instance handle, recorded once at start-up: its
// resources (dialog templates, the banner bitmap) are loaded from it.
#pragma once

#include "host/host_api.h"

void RecordModuleInstance(HostInstance instance);
HostInstance ModuleInstance();

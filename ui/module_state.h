// The framework's current module: the module whose resources its dialogs are
// built from. It starts as the host's process module (null stands for it);
// the plug-in's own dialogs switch to the plug-in for their duration.
#pragma once

#include "host/host_api.h"

HostInstance CurrentResourceModule();
void SetCurrentResourceModule(HostInstance module);

// Makes the plug-in (ModuleInstance) the current module for the life of the
// object and restores the previous one when it goes, on every path out of
// the scope, an exception included.
class ModuleStateScope {
public:
    ModuleStateScope();
    ~ModuleStateScope();
    ModuleStateScope(const ModuleStateScope&) = delete;
    ModuleStateScope& operator=(const ModuleStateScope&) = delete;

private:
    HostInstance previous;
};

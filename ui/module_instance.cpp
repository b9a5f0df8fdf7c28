#include "ui/module_instance.h"

namespace {
HostInstance moduleInstance = nullptr;
} // namespace

void RecordModuleInstance(HostInstance instance)
{
    moduleInstance = instance;
}

HostInstance ModuleInstance()
{
    return moduleInstance;
}

#include "ui/module_state.h"

#include "ui/module_instance.h"

namespace {
// One per thread, as the framework keeps its module state: a dialog shown on
// one thread does not change where another thread's dialogs come from.
thread_local HostInstance currentModule = nullptr;
} // namespace

HostInstance CurrentResourceModule()
{
    return currentModule;
}

void SetCurrentResourceModule(HostInstance module)
{
    currentModule = module;
}

ModuleStateScope::ModuleStateScope() : previous(currentModule)
{
    currentModule = ModuleInstance();
}

ModuleStateScope::~ModuleStateScope()
{
    currentModule = previous;
}

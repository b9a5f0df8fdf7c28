#include "ui/module_state.h"

#include "ui/module_instance.h"

namespace {
HostInstance currentModule = nullptr;
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

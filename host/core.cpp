#include "host/core.h"

namespace {
HostInstance lastInstance = nullptr;
int callCount = 0;
} // namespace

void CORE_CALL InitCustomControls(HostInstance instance)
{
    lastInstance = instance;
    ++callCount;
}

HostInstance CORE_CALL CoreCustomControlsInstance()
{
    return lastInstance;
}

int CORE_CALL CoreCustomControlsCalls()
{
    return callCount;
}

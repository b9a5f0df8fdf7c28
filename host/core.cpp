#include "host/core.h"

namespace {
HostInstance lastInstance = nullptr;
int callCount = 0;
} // namespace

void InitCustomControls(HostInstance instance)
{
    lastInstance = instance;
    ++callCount;
}

HostInstance CoreCustomControlsInstance()
{
    return lastInstance;
}

int CoreCustomControlsCalls()
{
    return callCount;
}

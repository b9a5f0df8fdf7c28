#include "host/full_path.h"

#include <windows.h>

bool FullPathOf(const char* name, char (&out)[kMaxPathLength])
{
    const DWORD length = GetFullPathNameA(name, sizeof out, out, nullptr);
    return length != 0 && length < sizeof out;
}

// The full path of a file name, as the platform completes a relative one: a
// platform file each (full_path_posix.cpp, full_path_win32.cpp). Inside the
// host library only.
#pragma once

#include "host/host_api.h"

// Writes the full path of `name` (a terminated name) into `out`, which holds
// kMaxPathLength bytes. False, with `out` undefined, when the path cannot be
// formed or would not fit.
bool FullPathOf(const char* name, char (&out)[kMaxPathLength]);

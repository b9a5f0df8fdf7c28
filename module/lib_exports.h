// The module's four exports, undecorated C functions: on Windows the
// module-definition file PIC.def exports them by name with fixed ordinals;
// elsewhere they are the only symbols the shared object makes visible.
#pragma once

#include <cstdint>

#include "host/class_desc.h"

#if defined(_WIN32)
#define PIC_PLUGIN_EXPORT
#else
#define PIC_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
PIC_PLUGIN_EXPORT ClassDesc* LibClassDesc(int index);
PIC_PLUGIN_EXPORT const char* LibDescription();
PIC_PLUGIN_EXPORT int LibNumberClasses();
PIC_PLUGIN_EXPORT uint32_t LibVersion();
}

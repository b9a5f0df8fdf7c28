// The module's description record and its class table: what the four
// exports answer from.
#pragma once

#include <cstdint>

#include "host/class_desc.h"

struct ClassTableEntry {
    char name[256];
    ClassDesc* (*descriptor)();
};

struct ModuleDescriptionRecord {
    char description[256];
    uint32_t interfaceVersion;
    int classCount;
    const ClassTableEntry* classTable;
};

extern const ClassTableEntry ClassTable[1];
extern const ModuleDescriptionRecord ModuleDescription;

#include "module/module_description.h"

#include "module/pic_class_desc.h"

static ClassDesc* PicClassDescriptor()
{
    return ThePicClassDesc();
}

const ClassTableEntry ClassTable[1] = {
    {"PIC", PicClassDescriptor},
};

const ModuleDescriptionRecord ModuleDescription = {
    "Softimage Picture File I/O Driver (c) 2026 Dorvanquil Imaging - dorvanquil.example",
    kPluginInterfaceVersion,
    1,
    ClassTable,
};

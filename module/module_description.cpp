#include "module/module_description.h"

#include "module/pic_class_desc.h"
#include "pic/product.h"

static ClassDesc* PicClassDescriptor()
{
    return ThePicClassDesc();
}

const ClassTableEntry ClassTable[1] = {
    {"PIC", PicClassDescriptor},
};

const ModuleDescriptionRecord ModuleDescription = {
    PIC_MODULE_DESCRIPTION,
    kPluginInterfaceVersion,
    1,
    ClassTable,
};

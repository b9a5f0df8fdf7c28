#include "module/lib_exports.h"

#include "module/module_description.h"

ClassDesc* LibClassDesc(int index)
{
    const ModuleDescriptionRecord& module = ModuleDescription;
    if (module.classTable == nullptr || index < 0 || index >= module.classCount)
        return nullptr;
    return module.classTable[index].descriptor();
}

const char* LibDescription()
{
    return ModuleDescription.description;
}

int LibNumberClasses()
{
    return ModuleDescription.classCount;
}

uint32_t LibVersion()
{
    return ModuleDescription.interfaceVersion;
}

#include "module/pic_class_desc.h"

#include <new>

#include "driver/pic_bitmap_io.h"
#include "pic/product.h"

int PicClassDesc::IsListed()
{
    return 1;
}

void* PicClassDesc::NewDriver(int)
{
    // The host gets a BitmapIO*; a failed allocation is a null, never an
    // exception across the module's boundary.
    BitmapIO* driver = new (std::nothrow) PicBitmapIO;
    return driver;
}

int PicClassDesc::HostSlot3(intptr_t)
{
    return 0;
}
int PicClassDesc::HostSlot4(intptr_t)
{
    return 0;
}
const char* PicClassDesc::ClassDisplayName()
{
    return PIC_FORMAT_NAME;
}
int PicClassDesc::SuperclassCode()
{
    return kSuperclassBitmapIO;
}
ClassId* PicClassDesc::ClassIdentifierInto(ClassId* result)
{
    *result = kPicClassId;
    return result;
}
const char* PicClassDesc::CategoryName()
{
    return PIC_CATEGORY;
}
int PicClassDesc::HostSlot9(intptr_t)
{
    return 1;
}
int PicClassDesc::HostSlot10()
{
    return 0;
}
void PicClassDesc::HostSlot11(intptr_t) {}
void PicClassDesc::HostSlot12(intptr_t) {}
int PicClassDesc::HostSlot13()
{
    return 0;
}
int PicClassDesc::HostSlot14(intptr_t)
{
    return 0;
}
int PicClassDesc::HostSlot15(intptr_t)
{
    return 0;
}

PicClassDesc* ThePicClassDesc()
{
    static PicClassDesc descriptor;
    return &descriptor;
}

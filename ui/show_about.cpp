// ShowAbout (slot 10): the About box, from the module's own resources.
#include "driver/driver_description.h"
#include "driver/pic_bitmap_io.h"
#include "ui/about_box.h"
#include "ui/module_instance.h"

int PicBitmapIO::ShowAbout(HostWindow parent)
{
    // The id's low 16 bits name the template as an integer resource id.
    return RunAboutBox(ModuleInstance(), DriverDescription.aboutDialogId & 0xFFFF, parent);
}

// ShowOptions (slot 12): the options dialog over the driver's options block.
#include "driver/pic_bitmap_io.h"
#include "ui/module_state.h"
#include "ui/pic_options_dialog.h"

// Neither argument is used: the dialog has no parent window. The block
// changes only after OK, all three fields at once; any other end of the run
// (Cancel, Escape, the close box, a dialog that cannot be created, an
// allocation failure) leaves every byte as it was and answers 0.
int PicBitmapIO::ShowOptions(HostWindow, int)
{
    try {
        PicOptionsDialog dialog(nullptr);
        ModuleStateScope pluginResources;
        dialog.SeedFrom(options);
        if (dialog.DoModal() != kDialogOk)
            return 0;
        dialog.StoreInto(options);
        return 1;
    } catch (...) {
        // Only allocation can fail in here; nothing may leave the plug-in.
        return 0;
    }
}

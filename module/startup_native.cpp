// Start-up natively: a constructor runs once when the shared object is
// loaded, under the loader's lock, before dlopen returns. The module's
// "instance" is its load address, as a Windows module handle is.
#include <dlfcn.h>

#include "driver/dialog_hooks.h"
#include "host/core.h"
#include "ui/module_instance.h"
#include "ui/pic_dialogs.h"

__attribute__((constructor)) static void StartModule()
{
    SetPicDialogHooks(kPicDialogHooks);
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&StartModule), &self) == 0)
        return;
    RecordModuleInstance(self.dli_fbase);
    InitCustomControls(self.dli_fbase);
}

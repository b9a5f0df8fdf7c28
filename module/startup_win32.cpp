// Start-up on Windows: the loader calls DllMain once, serialised, before any
// export is used.
#include <windows.h>

#include <commctrl.h>

#include "driver/dialog_hooks.h"
#include "host/core.h"
#include "ui/module_instance.h"
#include "ui/pic_dialogs.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        // Nothing redirects our resources: the module itself holds them.
        RecordModuleInstance(instance);
        SetPicDialogHooks(kPicDialogHooks);
        InitCustomControls(instance);
        InitCommonControls();
    }
    return TRUE;
}

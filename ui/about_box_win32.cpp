#include <windows.h>

#include "ui/about_box.h"

// OK (and with it Enter) sends IDOK; Escape and the close box arrive as
// IDCANCEL. Every way out ends the box with 1. Nothing is reported as
// handled, WM_INITDIALOG included, so the platform keeps its defaults.
static INT_PTR CALLBACK AboutDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND) {
        const WORD controlId = LOWORD(wParam);
        if (controlId == IDOK || controlId == IDCANCEL)
            EndDialog(window, 1);
    }
    return 0;
}

int RunAboutBox(HostInstance module, int templateId, HostWindow parent)
{
    return int(DialogBoxParamA(module, MAKEINTRESOURCEA(templateId), parent, AboutDialogProc, 0));
}

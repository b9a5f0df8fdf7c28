// The dialog framework on USER32: DialogBoxParamA runs the template, one
// dialog procedure hands initialisation and commands to the dialog's handlers.
#include <windows.h>

#include "ui/dialog_platform.h"

// Exceptions may not unwind through the system's frames: the procedure
// catches them, ends the run, and DoModal throws them again.
static INT_PTR CALLBACK FrameworkDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        const auto* handlers = reinterpret_cast<const DialogHandlers*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        try {
            return handlers->initialise(handlers->dialog, window);
        } catch (...) {
            handlers->abort(handlers->dialog, std::current_exception());
            return FALSE;
        }
    }
    const auto* handlers =
        reinterpret_cast<const DialogHandlers*>(GetWindowLongPtrA(window, DWLP_USER));
    if (handlers == nullptr || message != WM_COMMAND)
        return FALSE;
    try {
        return handlers->command(handlers->dialog, LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    } catch (...) {
        handlers->abort(handlers->dialog, std::current_exception());
        return TRUE;
    }
}

int RunDialogTemplate(HostInstance module, int templateId, HostWindow parent,
                      const DialogHandlers& handlers)
{
    if (module == nullptr)
        module = GetModuleHandleA(nullptr);
    const INT_PTR result =
        DialogBoxParamA(module, MAKEINTRESOURCEA(templateId), parent, FrameworkDialogProc,
                        reinterpret_cast<LPARAM>(&handlers));
    return int(result);
}

void EndDialogWindow(DialogWindow window, int result)
{
    EndDialog(window, result);
}

std::string DialogItemText(DialogWindow window, int id)
{
    HWND item = GetDlgItem(window, id);
    if (item == nullptr)
        return std::string();
    const int length = GetWindowTextLengthA(item);
    if (length <= 0)
        return std::string();
    // The length may be an over-estimate (DBCS); keep what was copied.
    std::string text(size_t(length) + 1, '\0');
    const int copied = GetWindowTextA(item, &text[0], length + 1);
    text.resize(copied > 0 ? size_t(copied) : 0);
    return text;
}

void SetDialogItemText(DialogWindow window, int id, const std::string& text)
{
    SetDlgItemTextA(window, id, text.c_str());
}

bool IsDialogButtonChecked(DialogWindow window, int id)
{
    return IsDlgButtonChecked(window, id) == BST_CHECKED;
}

void CheckDialogButton(DialogWindow window, int id, bool checked)
{
    CheckDlgButton(window, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

std::vector<int> DialogRadioGroup(DialogWindow window, int firstId)
{
    std::vector<int> group;
    HWND first = GetDlgItem(window, firstId);
    for (HWND item = first; item != nullptr; item = GetWindow(item, GW_HWNDNEXT)) {
        if (item != first && (GetWindowLongA(item, GWL_STYLE) & WS_GROUP) != 0)
            break;
        if ((SendMessageA(item, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) != 0)
            group.push_back(GetDlgCtrlID(item));
    }
    return group;
}

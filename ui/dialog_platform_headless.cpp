// The dialog framework without a window system: no dialog can be created,
// so every modal run fails at once and no control is ever reached.
#include "ui/dialog_platform.h"

int RunDialogTemplate(HostInstance, int, HostWindow, const DialogHandlers&)
{
    return -1;
}

void EndDialogWindow(DialogWindow, int) {}

std::string DialogItemText(DialogWindow, int)
{
    return std::string();
}

void SetDialogItemText(DialogWindow, int, const std::string&) {}

bool IsDialogButtonChecked(DialogWindow, int)
{
    return false;
}

void CheckDialogButton(DialogWindow, int, bool) {}

std::vector<int> DialogRadioGroup(DialogWindow, int)
{
    return std::vector<int>();
}

// The window system underneath the dialog framework: a win32 implementation
// on USER32 (ANSI calls throughout) and a headless one for builds without a
// window system, where no dialog can be created. Everything above this
// interface is the same on every platform.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "host/host_api.h"

// A dialog's window while it runs; null outside its modal run.
using DialogWindow = HostWindow;

// What the platform's dialog procedure hands on to the dialog it runs
// (ModalDialog fills these in; the platform knows nothing more of it).
struct DialogHandlers {
    void* dialog;
    // WM_INITDIALOG: the answer goes back to the platform.
    int (*initialise)(void* dialog, DialogWindow window);
    // WM_COMMAND: true when the command was handled.
    bool (*command)(void* dialog, int controlId, int notification);
    // An exception from either: the run ends and the dialog throws it again.
    void (*abort)(void* dialog, std::exception_ptr failure);
};

// Builds template `templateId` of `module` (null: the process's own module)
// and runs it modally, handing its initialisation and commands to
// `handlers`. Returns the result the dialog ended with, or -1 when it cannot
// be created (always, headless).
int RunDialogTemplate(HostInstance module, int templateId, HostWindow parent,
                      const DialogHandlers& handlers);
// Ends the modal run of `window` with `result`.
void EndDialogWindow(DialogWindow window, int result);

std::string DialogItemText(DialogWindow window, int id);
void SetDialogItemText(DialogWindow window, int id, const std::string& text);
bool IsDialogButtonChecked(DialogWindow window, int id);
void CheckDialogButton(DialogWindow window, int id, bool checked);
// The ids of the radio buttons in the group that starts at `firstId`: that
// control and those after it in template order, up to the next control that
// starts a group or the end of the list.
std::vector<int> DialogRadioGroup(DialogWindow window, int firstId);

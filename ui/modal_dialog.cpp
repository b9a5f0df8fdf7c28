#include "ui/modal_dialog.h"

#include "ui/module_state.h"

const CommandEntry ModalDialog::commandEntries[] = {
    {kDialogOk, &ModalDialog::OnOK},
    {kDialogCancel, &ModalDialog::OnCancel},
};

const MessageMap ModalDialog::messageMap = {nullptr, commandEntries,
                                            sizeof commandEntries / sizeof commandEntries[0]};

// The clicked notification of a button; menus and accelerators also send 0
// or 1, and the dialog manager sends IDOK/IDCANCEL for Enter, Escape and the
// close box with 0.
static constexpr int kClickedNotification = 0;

ModalDialog::ModalDialog(int dialogTemplate, HostWindow owner)
    : templateId(dialogTemplate), parent(owner), window(nullptr)
{
}

ModalDialog::~ModalDialog() = default;

int ModalDialog::DoModal()
{
    pendingFailure = nullptr;
    const DialogHandlers handlers = {
        this,
        [](void* dialog, DialogWindow dialogWindow) {
            return static_cast<ModalDialog*>(dialog)->HandleInitDialog(dialogWindow);
        },
        [](void* dialog, int controlId, int notification) {
            return static_cast<ModalDialog*>(dialog)->HandleCommand(controlId, notification);
        },
        [](void* dialog, std::exception_ptr failure) {
            static_cast<ModalDialog*>(dialog)->AbortWithException(failure);
        },
    };
    const int result = RunDialogTemplate(CurrentResourceModule(), templateId, parent, handlers);
    window = nullptr;
    if (pendingFailure) {
        std::exception_ptr failure = pendingFailure;
        pendingFailure = nullptr;
        std::rethrow_exception(failure);
    }
    return result;
}

int ModalDialog::HandleInitDialog(DialogWindow dialogWindow)
{
    window = dialogWindow;
    return OnInitDialog();
}

bool ModalDialog::HandleCommand(int controlId, int notification)
{
    if (notification != kClickedNotification)
        return false;
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
        for (size_t i = 0; i < map->count; ++i) {
            if (map->entries[i].controlId == controlId) {
                (this->*map->entries[i].handler)();
                return true;
            }
        }
    }
    return false;
}

void ModalDialog::AbortWithException(std::exception_ptr failure)
{
    if (!pendingFailure)
        pendingFailure = failure;
    if (window != nullptr)
        EndDialogWindow(window, kDialogFailed);
}

const MessageMap* ModalDialog::GetMessageMap() const
{
    return &messageMap;
}

void ModalDialog::DoDataExchange(DataExchange&) {}

int ModalDialog::OnInitDialog()
{
    UpdateData(false);
    return 1;
}

void ModalDialog::UpdateData(bool fromControls)
{
    DataExchange exchange{window, fromControls};
    DoDataExchange(exchange);
}

void ModalDialog::OnOK()
{
    UpdateData(true);
    EndDialog(kDialogOk);
}

void ModalDialog::OnCancel()
{
    EndDialog(kDialogCancel);
}

void ModalDialog::EndDialog(int result)
{
    EndDialogWindow(window, result);
}

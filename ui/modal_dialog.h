// The dialog framework: a modal dialog bound to a template id, with an
// initialisation hook, data exchange with its controls and a small message
// map that routes clicked notifications to member functions.
//
// Virtual operations, in this order: destructor, message-map query, data
// exchange, OnInitDialog.
#pragma once

#include <cstddef>
#include <exception>

#include "ui/data_exchange.h"
#include "ui/dialog_platform.h"

// Results of a modal run.
constexpr int kDialogOk = 1;      // IDOK
constexpr int kDialogCancel = 2;  // IDCANCEL
constexpr int kDialogFailed = -1; // the dialog could not be created

class ModalDialog;
using CommandHandler = void (ModalDialog::*)();

// A clicked notification from `controlId` calls `handler`; a derived class's
// member function goes in with static_cast<CommandHandler>.
struct CommandEntry {
    int controlId;
    CommandHandler handler;
};

// A class's own entries, searched first, then its base class's map. Each
// class that has a map defines a static MessageMap and returns it from
// GetMessageMap.
struct MessageMap {
    const MessageMap* base;
    const CommandEntry* entries;
    size_t count;
};

class ModalDialog {
public:
    ModalDialog(int templateId, HostWindow parent);
    virtual ~ModalDialog();
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Builds the template from the framework's current module and runs it:
    // kDialogOk, kDialogCancel, or kDialogFailed. An exception thrown inside
    // the run ends it and is thrown again from here.
    int DoModal();

    // The platform calls these three, through the handlers DoModal gives it.
    int HandleInitDialog(DialogWindow window);
    // True when the command was routed to a handler.
    bool HandleCommand(int controlId, int notification);
    void AbortWithException(std::exception_ptr failure);

    DialogWindow Window() const { return window; }

protected:
    virtual const MessageMap* GetMessageMap() const;
    virtual void DoDataExchange(DataExchange& exchange);
    // Puts the members into the controls; 1 lets the platform place the
    // initial keyboard focus.
    virtual int OnInitDialog();

    // Runs the data exchange; `fromControls` false fills the controls.
    void UpdateData(bool fromControls);
    // Default OK: take the controls' values, then end with kDialogOk.
    void OnOK();
    // Default Cancel (also Escape and the close box): end with
    // kDialogCancel, no exchange.
    void OnCancel();
    void EndDialog(int result);

    // OK (1) and Cancel (2); a derived class's map names this as its base.
    static const MessageMap messageMap;

private:
    static const CommandEntry commandEntries[];

    int templateId;
    HostWindow parent;
    DialogWindow window;
    std::exception_ptr pendingFailure;
};

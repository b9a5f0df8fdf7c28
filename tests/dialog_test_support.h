// Helpers for the dialog tests under Wine: PIC.BMI loaded as the host loads
// it, a robot that drives a modal dialog from a second thread while the
// test's thread sits in the driver operation, and a check of its layout.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/bitmap_io.h"

// PIC.BMI from beside the test program, for as long as the object lives.
class PluginModule {
public:
    PluginModule();
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    HMODULE Handle() const { return module; }
    // A driver made by LibClassDesc(0)->NewDriver; null when that fails.
    BitmapIOPtr NewDriver() const;

private:
    HMODULE module;
};

// Waits on its own thread for a visible dialog of this process with the
// given caption, runs `script` on it, then waits for the dialog to go away;
// a dialog the script leaves open is closed by force (WM_CLOSE) so that the
// test cannot hang, and counts as a failure of the script. Results are read
// after Finish(), on the test's thread.
class DialogRobot {
public:
    using Script = std::function<void(HWND dialog)>;
    DialogRobot(std::string caption, Script script);
    ~DialogRobot();
    DialogRobot(const DialogRobot&) = delete;
    DialogRobot& operator=(const DialogRobot&) = delete;

    // Stops waiting for a dialog that has not shown up, and joins.
    void Finish();
    bool SawDialog() const { return sawDialog; }
    bool LeftOpen() const { return leftOpen; }

private:
    void Run(Script script);

    std::string caption;
    std::atomic<bool> stopWaiting{false};
    std::atomic<bool> sawDialog{false};
    std::atomic<bool> leftOpen{false};
    std::thread worker;
};

// Controls, as a person would use them (called from a robot's script).
std::string ItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, const std::string& text);
bool IsChecked(HWND dialog, int id);
void Click(HWND dialog, int id);
void PressKey(HWND dialog, WPARAM virtualKey);
void ClickCloseBox(HWND dialog);
// Sends WM_COMMAND for `controlId` as a clicked notification.
void SendCommand(HWND dialog, int controlId);

// What is wrong with the dialog's layout as it shows, one message each
// (tests/dialog_layout.cpp); empty when every visible control lies inside
// the dialog's client area, no two overlap (but for a group box around what
// it frames), and each static text, button, check box, radio button and
// group box caption fits its control in the control's own font.
std::vector<std::string> LayoutFaults(HWND dialog);

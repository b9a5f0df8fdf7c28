// Helpers for the dialog tests under Wine: PIC.BMI loaded as the host loads
// it, a robot that drives a modal dialog from a second thread while the
// test's thread sits in the driver operation, and screenshots.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

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

// Saves the dialog as it shows on the screen to screenshots/NAME.png beside
// the test's working folder. Does nothing without an X display (Wine's null
// graphics driver paints nowhere).
void SaveScreenshot(HWND dialog, const std::string& name);

// Writes 8-bit RGB rows (top first, 3 bytes a pixel) as a PNG file; false
// when the file cannot be written.
bool WritePng(const std::string& path, int width, int height, const unsigned char* rgb);

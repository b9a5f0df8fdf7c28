// A progress bar on stderr, fed by the driver's progress messages. It draws
// only when stderr is a terminal; otherwise it has no window and the driver
// sends it nothing.
//
// The driver sends message kProgressMessage (done, total) to a BitmapInfo's
// update window. Natively the bar registers itself with the host's message
// registry; on Windows it owns a message-only window, and SendMessageA from
// the same thread calls its window procedure directly.
#pragma once

#include <string>

#include "host/host_api.h"

class ProgressBar {
public:
    // `enabled` false makes a bar that never draws and has no window.
    explicit ProgressBar(bool enabled);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // The update window to give the driver; null when the bar does not draw.
    HostWindow Window() const { return window; }

    // Text shown before the bar, such as "frame 3/10 out0003.pic"; starts a
    // new bar at 0%.
    void Begin(const std::string& label);
    // Ends the current bar's line.
    void End();

    // The message receiver: draws done/total of the current bar.
    void OnProgress(long long done, long long total);

private:
    HostWindow window = nullptr;
    std::string label;
    int shownPercent = -1;
    bool drawing = false;
};

// True when standard error is a terminal.
bool StderrIsTerminal();

// "[#####-----]  50%"-style text for done/total, `cells` wide inside the
// brackets; total <= 0 or done >= total shows a full bar.
std::string ProgressBarText(long long done, long long total, int cells);

// Progress on stderr, fed by the drivers' progress messages: one line,
// redrawn in place and never wider than the terminal, with the frames done
// and the percentage of the frame being worked on. It draws only when
// stderr is a terminal; otherwise no window exists and drivers send nothing.
//
// A driver sends message kProgressMessage (done, total) to a BitmapInfo's
// update window. Each thread that runs drivers has its own ProgressWindow:
// natively a handle in the host's message registry; on Windows a
// message-only window of that thread, so that SendMessageA from the driver
// calls its procedure directly instead of waiting on another thread.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

#include "engine/convert/pic_codec.h"
#include "host/host_api.h"

class ProgressDisplay {
public:
    // `enabled` false makes a display that never draws. `frames` is the
    // number of frames the run will convert.
    ProgressDisplay(bool enabled, int frames);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    bool Enabled() const { return enabled; }
    // The frame `label` is at `percent`.
    void Show(const std::string& label, int percent);
    // One more frame is finished (or failed).
    void FrameDone();
    // Prints `line` on stderr, above the progress line, from any thread.
    void Message(const std::string& line);

private:
    void Draw(); // with `lock` held
    void Clear();

    std::mutex lock;
    bool enabled;
    int frames;
    int done = 0;
    std::string label;
    int percent = 0;
    std::string drawn; // the text on the line now
};

class ProgressWindow : public FrameProgress {
public:
    explicit ProgressWindow(ProgressDisplay& display);
    ~ProgressWindow() override;
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // The update window to give a driver; null when nothing is drawn.
    HostWindow Window() const { return window; }
    // Names the frame the next messages are about.
    void Begin(const std::string& frameLabel) override;
    // The message receiver, and the steps of a frame no driver works on.
    void OnProgress(long long doneAmount, long long total);
    void Step(long long doneAmount, long long total) override { OnProgress(doneAmount, total); }

private:
    ProgressDisplay& display;
    HostWindow window = nullptr;
    std::string label;
    int shownPercent = -1;
};

// True when standard error is a terminal.
bool StderrIsTerminal();
// The terminal's width in columns, 80 when it cannot be told.
int TerminalColumns();

// The progress line: "12/100 NAME  45%" (without the count for a single
// frame), at most `columns - 1` wide; a long NAME loses its start to "...".
std::string ProgressLine(int done, int frames, const std::string& label, int percent, int columns);

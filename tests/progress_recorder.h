// A host window that records the progress messages sent to it: natively a
// handle registered with the stand-in's message registry, on Windows a
// message-only window whose procedure the sending thread calls directly.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "host/host_api.h"

class ProgressRecorder {
public:
    ProgressRecorder();
    ~ProgressRecorder();
    ProgressRecorder(const ProgressRecorder&) = delete;
    ProgressRecorder& operator=(const ProgressRecorder&) = delete;

    HostWindow Window() const { return window; }
    // (amount done, total) of each progress message, in arrival order.
    const std::vector<std::pair<int, int>>& Messages() const { return messages; }
    void Record(unsigned message, long long first, long long second);
    // Called with each message's amount done, after it is recorded: a host
    // doing something of its own while the driver works.
    std::function<void(int)> onProgress;

private:
    HostWindow window;
    std::vector<std::pair<int, int>> messages;
};

// The frames of a `pictool convert` run, shared out among threads: each
// thread takes the next frame from the queue (made as it is taken, so that
// a list of a hundred million frames costs no more than its ranges) and
// converts it with a codec of its own; the log puts what each frame did in
// frame order, whichever thread finishes first, and says it on stderr in
// that order. Frames whose input does not exist are counted and reported
// as ranges, not one by one.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/convert/convert_summary.h"
#include "tools/pictool/convert/convert_request.h"
#include "tools/pictool/convert/frame_pattern.h"
#include "tools/pictool/convert/progress_bar.h"
#include "tools/pictool/support/plugin_host.h"

class FrameQueue {
public:
    explicit FrameQueue(const ConvertRequest& request);
    // The next frame's place in the run and its task; false after the last.
    bool Next(size_t& index, FrameTask& task);
    uint64_t Count() const { return count; }

private:
    const ConvertRequest& request;
    std::mutex lock;
    FrameCursor cursor;
    size_t handed = 0;
    uint64_t count;
};

// What one frame came to.
struct FrameReport {
    bool done = false; // false: room made for a frame still running
    FrameTask task;
    bool missing = false;   // its input does not exist
    bool keptEarly = false; // its output existed before it started (--no-clobber)
    FrameOutcome outcome;
};

class FrameLog {
public:
    FrameLog(const ConvertRequest& request, ProgressDisplay& display);
    // Makes room for frame `index`'s report before the frame runs, so that
    // taking a whole frame's report allocates nothing once its output is in
    // place: running out of memory then cannot fail a frame that is done.
    void Expect(size_t index);
    // Takes frame `index`'s report and says, in frame order, what is now due.
    void Done(size_t index, FrameReport&& report);
    // Says what is left (a last run of missing frames).
    void Finish();
    // The run as the summary gives it, and whether it failed.
    ConvertRun& Run() { return run; }
    // The last frame written that has an options block, or null.
    const FrameOutcome* LastWithOptions() const;

private:
    void Say(const FrameReport& report);
    void SayMissing();

    const ConvertRequest& request;
    ProgressDisplay& display;
    std::mutex lock;
    size_t next = 0;
    std::map<size_t, FrameReport> pending;
    FrameRuns missingNow; // missing frames not said yet
    FrameRuns missing;    // every missing frame
    ConvertRun run;
};

// Converts every frame of `queue` on up to `threads` threads.
void RunFrames(const Plugin& plugin, const ConvertRequest& request, FrameQueue& queue, int threads,
               ProgressDisplay& display, FrameLog& log);

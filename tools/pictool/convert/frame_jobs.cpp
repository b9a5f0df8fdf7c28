#include "tools/pictool/convert/frame_jobs.h"

#include <filesystem>
#include <system_error>
#include <thread>

#include "engine/convert/frame_output.h"
#include "engine/support/system_error_text.h"
#include "host/bmm_functions.h"
#include "tools/pictool/convert/driver_codec.h"
#include "tools/pictool/support/short_name.h"

namespace {

// The name WriteFrame gives frame `frame` of a plain name, made by the same
// host function.
std::string DriverFrameName(const std::string& output, int frame)
{
    // Past the host's field the number goes into the file's own name, as the
    // driver, handed the folder's shorter name, puts it there.
    const size_t slash = output.find_last_of(PathSeparators());
    const size_t start =
        output.size() < size_t(kMaxPathLength) || slash == std::string::npos ? 0 : slash + 1;
    char name[kMaxPathLength];
    return BMMCreateNumberedFilename(output.substr(start).c_str(), frame, name)
               ? output.substr(0, start) + name
               : output;
}

// A name that exists as a name: a link to nowhere too.
bool NameExists(const std::string& path)
{
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    return !error && std::filesystem::exists(status);
}

FrameReport Convert(PicCodec& codec, const ConvertRequest& request, FrameTask&& task,
                    ProgressWindow& window)
{
    FrameReport report;
    report.task = std::move(task);
    const FrameTask& frame = report.task;
    if (request.job.noClobber && frame.output != "-" && NameExists(frame.output))
        report.keptEarly = true;
    else if (request.sequence && !NameExists(frame.input))
        report.missing = true;
    else
        report.outcome = ConvertFrame(codec, request.job, frame, window);
    return report;
}

// "frame 7: " in a sequence.
std::string FramePrefix(const ConvertRequest& request, const FrameTask& task)
{
    return request.sequence ? "frame " + std::to_string(task.frame) + ": " : "";
}

} // namespace

FrameQueue::FrameQueue(const ConvertRequest& asked)
    : request(asked), cursor(asked.frames), count(asked.sequence ? asked.frames.Count() : 1)
{
}

bool FrameQueue::Next(size_t& index, FrameTask& task)
{
    const std::lock_guard<std::mutex> held(lock);
    int frame = kSingleFrame;
    if (request.sequence ? !cursor.Next(frame) : handed > 0)
        return false;
    index = handed++;
    if (!request.sequence) {
        task = FrameTask{kSingleFrame, request.input, request.output};
        return true;
    }
    task = FrameTask{frame, FrameName(request.inputPattern, frame),
                     request.outputNumbered ? FrameName(request.outputPattern, frame)
                                            : DriverFrameName(request.output, frame)};
    return true;
}

FrameLog::FrameLog(const ConvertRequest& asked, ProgressDisplay& shown)
    : request(asked), display(shown)
{
    run.sequence = asked.sequence;
}

void FrameLog::Expect(size_t index)
{
    const std::lock_guard<std::mutex> held(lock);
    pending.emplace(index, FrameReport());
    run.tasks.reserve(run.tasks.size() + pending.size());
    run.outcomes.reserve(run.outcomes.size() + pending.size());
}

void FrameLog::Done(size_t index, FrameReport&& report)
{
    const std::lock_guard<std::mutex> held(lock);
    report.done = true;
    pending[index] = std::move(report);
    for (auto due = pending.find(next); due != pending.end() && due->second.done;
         due = pending.find(++next)) {
        Say(due->second);
        if (due->second.missing) {
            missingNow.Add(due->second.task.frame);
            missing.Add(due->second.task.frame);
        } else if (due->second.keptEarly) {
            run.skipped.push_back(due->second.task.output);
        } else {
            run.tasks.push_back(std::move(due->second.task));
            run.outcomes.push_back(std::move(due->second.outcome));
        }
        pending.erase(due);
    }
}

void FrameLog::Say(const FrameReport& report)
{
    if (!report.missing)
        SayMissing();
    const FrameTask& task = report.task;
    const FrameOutcome& outcome = report.outcome;
    if (report.keptEarly || outcome.skipped) {
        display.Message("pictool: " + SkippedText(task.output));
        return;
    }
    for (const std::string& warning : outcome.warnings)
        display.Message("pictool: warning: " + task.input + ": " + FramePrefix(request, task) +
                        warning);
    if (!report.missing && (!outcome.ok || outcome.damaged))
        display.Message(std::string(outcome.ok ? "pictool: warning: " : "pictool: ") +
                        outcome.errorFile + ": " + FramePrefix(request, task) + outcome.error);
}

void FrameLog::SayMissing()
{
    if (missingNow.Count() == 0)
        return;
    const std::string why = SystemErrorText(ENOENT);
    if (missingNow.Count() == 1) {
        const int frame = std::stoi(missingNow.Text());
        display.Message("pictool: " + FrameName(request.inputPattern, frame) + ": frame " +
                        missingNow.Text() + ": " + why);
    } else {
        display.Message("pictool: " + request.input + ": frames " + missingNow.Text() + ": " + why +
                        " (" + std::to_string(missingNow.Count()) + " frames)");
    }
    missingNow = FrameRuns();
}

void FrameLog::Finish()
{
    const std::lock_guard<std::mutex> held(lock);
    SayMissing();
    run.missing = missing.Text();
    run.missingFrames = missing.Count();
    if (run.missingFrames == 1)
        run.missingError = FrameName(request.inputPattern, std::stoi(run.missing)) + ": " +
                           SystemErrorText(ENOENT);
    else if (run.missingFrames > 1)
        run.missingError =
            request.input + ": frames " + run.missing + ": " + SystemErrorText(ENOENT);
    bool failed = run.missingFrames > 0;
    for (const FrameOutcome& outcome : run.outcomes)
        failed = failed || OutcomeFails(outcome, request.job);
    run.failed = failed;
}

const FrameOutcome* FrameLog::LastWithOptions() const
{
    for (auto outcome = run.outcomes.rbegin(); outcome != run.outcomes.rend(); ++outcome)
        if (outcome->ok && outcome->haveOptions)
            return &*outcome;
    return nullptr;
}

void RunFrames(const Plugin& plugin, const ConvertRequest& request, FrameQueue& queue, int threads,
               ProgressDisplay& display, FrameLog& log)
{
    const auto work = [&] {
        ProgressWindow window(display);
        DriverPicCodec codec(plugin, window);
        size_t index = 0;
        for (FrameTask task; queue.Next(index, task);) {
            log.Expect(index);
            log.Done(index, Convert(codec, request, std::move(task), window));
            display.FrameDone();
        }
    };
    std::vector<std::thread> workers;
    try {
        for (int index = 1; index < threads; ++index)
            workers.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the ones made share the frames.
    }
    work();
    for (std::thread& worker : workers)
        worker.join();
}

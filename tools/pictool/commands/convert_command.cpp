// `pictool convert IN OUT`: the command line (convert_options.cpp), the
// frames shared out among threads (convert/frame_jobs.h), the options file
// kept after the run and the --json summary. The work on one frame is the
// engine's (engine/convert/convert_job.h), PIC files through the plug-in's
// drivers (convert/driver_codec.h).
#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

#include "engine/convert/convert_summary.h"
#include "engine/formats/format_table.h"
#include "engine/support/input_bytes.h"
#include "tools/pictool/commands/command.h"
#include "tools/pictool/commands/convert_options.h"
#include "tools/pictool/convert/frame_jobs.h"
#include "tools/pictool/support/options_file.h"
#include "tools/pictool/support/standard_output.h"

std::string ConvertHelp();

namespace {

// A sequence whose frames this command cannot take at all is one usage
// error, not a line per frame: told from the first of the first thousand
// frames listed whose input exists (its first bytes only).
int CheckFirstFrame(const ConvertRequest& request)
{
    FrameCursor cursor(request.frames);
    int frame = 0;
    for (int tried = 0; request.sequence && tried < 1000 && cursor.Next(frame); ++tried) {
        const std::string name = FrameName(request.inputPattern, frame);
        InputBytes bytes;
        if (!bytes.Open(name))
            continue;
        const ImageFormat* format =
            bytes.ReadUpTo(kSniffBytes) ? FormatOfHead(bytes.Data(), bytes.Size()) : nullptr;
        const ConvertJob& job = request.job;
        if (format == nullptr)
            return kExitSuccess;
        if (!job.toPic && format != &PicFormat())
            return UsageError("convert", name + " is " + NameWithArticle(*format) +
                                             ": reading it, the output must be .pic");
        if (job.toPic && !format->layered && (!job.read.part.empty() || !job.read.channels.empty()))
            return UsageError("convert", "--part and --ch apply to inputs with parts and layers "
                                         "(EXR), and " +
                                             name + " is " + NameWithArticle(*format));
        return kExitSuccess;
    }
    return kExitSuccess;
}

// The driver's block after the last frame written, to --save-options.
void SaveOptions(const ConvertRequest& request, FrameLog& log)
{
    const FrameOutcome* last = log.LastWithOptions();
    if (request.saveOptionsPath.empty() || last == nullptr)
        return;
    std::string error;
    if (WriteOptionsFile(&last->options, request.saveOptionsPath, error))
        return;
    ConvertRun& run = log.Run();
    run.runError = request.saveOptionsPath + ": " + error;
    std::fprintf(stderr, "pictool: %s\n", run.runError.c_str());
    run.failed = true;
}

int RunConvert(PictoolContext& context, const std::vector<std::string>& arguments)
{
    ConvertRequest request;
    if (const int status = ParseConvertArguments(arguments, request))
        return status;
    if (const int status = CheckFirstFrame(request))
        return status;
    const Plugin* plugin = context.LoadedPlugin();
    if (plugin == nullptr)
        return kExitFailure;
    FrameQueue queue(request);
    const int cores = int(std::max(1u, std::min(std::thread::hardware_concurrency(), 64u)));
    const int threads =
        int(std::min<uint64_t>(uint64_t(request.jobs > 0 ? request.jobs : cores), queue.Count()));
    auto display =
        std::make_unique<ProgressDisplay>(!request.quiet && StderrIsTerminal(), int(queue.Count()));
    FrameLog log(request, *display);
    RunFrames(*plugin, request, queue, threads, *display, log);
    log.Finish();
    display.reset(); // the progress line goes before anything else is said
    SaveOptions(request, log);
    if (request.json) {
        // The image itself may be on stdout: the summary then goes to stderr.
        std::fprintf(request.output == "-" ? stderr : stdout, "%s\n",
                     ConvertSummaryJson(log.Run()).c_str());
        FlushStandardOutput();
    }
    return log.Run().failed ? kExitFailure : kExitSuccess;
}

} // namespace

const PictoolCommand ConvertCommand = {
    "convert",
    "images to PIC files and back, and PIC to PIC, through the plug-in",
    ConvertHelp,
    RunConvert,
};

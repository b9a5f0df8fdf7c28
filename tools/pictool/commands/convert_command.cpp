// `pictool convert IN OUT`: the command line, its checks, the help text, the
// frames shared out among threads, and the --json summary. The work on one
// frame is in convert/convert_to_pic.cpp and convert/convert_from_pic.cpp;
// the formats and their words come from the format table.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "host/bmm_functions.h"
#include "pic/pic_header.h"
#include "tools/pictool/commands/command.h"
#include "tools/pictool/convert/convert_job.h"
#include "tools/pictool/convert/failure_text.h"
#include "tools/pictool/convert/frame_output.h"
#include "tools/pictool/convert/progress_bar.h"
#include "tools/pictool/formats/format_table.h"
#include "tools/pictool/support/json_writer.h"
#include "tools/pictool/support/short_name.h"
#include "tools/pictool/support/standard_output.h"
#include "tools/pictool/support/system_error_text.h"
#include "tools/pictool/support/utf8_text.h"

namespace {

// What the header keeps of a user's comment: its 80 bytes less the driver's
// prefix and the closing zero.
constexpr int kMaxJobs = 64;
// --max-block-mib at most: 1 TiB, far past any real block.
constexpr uint64_t kMaxBlockMibOption = uint64_t(1) << 20;

// The command line as given, before the checks that relate its parts.
struct RawArguments {
    std::vector<std::string> names;
    size_t literalFrom = SIZE_MAX; // names from here on came after "--"
    std::string frames, depth, aspect, to, jobs, maxPixels, quality, maxBlockMib, maxScans;
    bool framesGiven = false;
    bool depthGiven = false;
    bool hostPixels = false;
    bool aspectGiven = false;
    bool picOnlyGiven = false; // an option that only writing PIC uses
    std::string picOnlyName;
    bool premult = false;
    bool unpremult = false;
};

const char* const kValueOptions[] = {
    "--frames", "--depth",        "--aspect",    "--comment",       "--options",
    "--to",     "--save-options", "--jobs",      "--max-pixels",    "--quality",
    "--part",   "--ch",           "--max-scans", "--max-block-mib",
};

bool TakesValue(const std::string& name)
{
    for (const char* option : kValueOptions)
        if (name == option)
            return true;
    return false;
}

// Keeps the value of an option TakesValue names.
void TakeValueOption(const std::string& name, const std::string& value, RawArguments& raw,
                     ConvertJob& job)
{
    if (name == "--frames") {
        raw.frames = value;
        raw.framesGiven = true;
    } else if (name == "--depth") {
        raw.depth = value;
        raw.depthGiven = true;
    } else if (name == "--to") {
        raw.to = value;
    } else if (name == "--jobs") {
        raw.jobs = value;
    } else if (name == "--max-pixels") {
        raw.maxPixels = value;
    } else if (name == "--quality") {
        raw.quality = value;
    } else {
        if (name == "--aspect") {
            raw.aspect = value;
            raw.aspectGiven = true;
            job.aspectGiven = true;
        } else if (name == "--comment") {
            job.comment = value;
            job.commentGiven = true;
        } else if (name == "--options") {
            job.optionsPath = value;
        } else if (name == "--part") {
            job.read.part = value;
        } else if (name == "--ch") {
            job.read.channels = value;
        } else if (name == "--max-scans") {
            raw.maxScans = value;
        } else if (name == "--max-block-mib") {
            raw.maxBlockMib = value;
        } else {
            job.saveOptionsPath = value;
        }
        raw.picOnlyGiven = true;
        raw.picOnlyName = name;
    }
}

bool TakeFlagOption(const std::string& name, RawArguments& raw, ConvertJob& job)
{
    if (name == "--json" || name == "--quiet" || name == "-q" || name == "--host-pixels") {
        job.json = job.json || name == "--json";
        job.quiet = job.quiet || name == "--quiet" || name == "-q";
        raw.hostPixels = raw.hostPixels || name == "--host-pixels";
        return true;
    }
    if (name == "--allow-damaged" || name == "--no-clobber" || name == "-n") {
        job.allowDamaged = job.allowDamaged || name == "--allow-damaged";
        job.noClobber = job.noClobber || name != "--allow-damaged";
        return true;
    }
    if (name == "--premult" || name == "--unpremult") {
        raw.premult = raw.premult || name == "--premult";
        raw.unpremult = raw.unpremult || name == "--unpremult";
        return true;
    }
    if (name == "--alpha" || name == "--no-alpha")
        job.alpha = name == "--alpha" ? Switch::On : Switch::Off;
    else if (name == "--rle" || name == "--raw")
        job.compressed = name == "--rle" ? Switch::On : Switch::Off;
    else
        return false;
    raw.picOnlyGiven = true;
    raw.picOnlyName = name;
    return true;
}

int SplitArguments(const std::vector<std::string>& arguments, RawArguments& raw, ConvertJob& job)
{
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--") {
            raw.literalFrom = raw.names.size();
            raw.names.insert(raw.names.end(), arguments.begin() + long(index) + 1, arguments.end());
            break;
        }
        if (argument.size() < 2 || argument[0] != '-') {
            raw.names.push_back(argument); // "-" is standard input or output
            continue;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (equals == std::string::npos && TakeFlagOption(name, raw, job))
            continue;
        if (!TakesValue(name))
            return UsageError("convert", "unknown option '" + argument + "'");
        if (equals == std::string::npos && index + 1 == arguments.size())
            return UsageError("convert", name + " needs a value");
        TakeValueOption(
            name, equals == std::string::npos ? arguments[++index] : argument.substr(equals + 1),
            raw, job);
    }
    return kExitSuccess;
}

// Any finite number above 0 that a 32-bit float holds; otherwise why not.
bool ParseAspect(const std::string& text, float& aspect, std::string& why)
{
    char* end = nullptr;
    errno = 0;
    const double value = text.empty() ? 0.0 : std::strtod(text.c_str(), &end);
    const bool underflow = errno == ERANGE && std::fabs(value) <= DBL_MIN;
    if (text.empty() || end == text.c_str() || *end != '\0' || std::isnan(value))
        why = "not a number";
    else if (std::isinf(value) && errno != ERANGE)
        why = "not a finite number";
    else if (value < 0.0 || (value == 0.0 && !underflow))
        why = "must be greater than 0";
    else if (value > double(FLT_MAX))
        why = "larger than a 32-bit float holds (at most 3.4e38)";
    else if (underflow || float(value) == 0.0f)
        why = "too small for a 32-bit float (it would be 0)";
    else
        aspect = float(value);
    return why.empty();
}

// A whole number from 1 to `most`.
bool ParseCount(const std::string& text, uint64_t most, uint64_t& value)
{
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return value >= 1 && value <= most;
}

bool LooksNumbered(const std::string& name)
{
    FramePattern pattern;
    std::string error;
    return ParseFramePattern(name, pattern, error);
}

// "%%" made '%'; a lone '%' stays as it is.
std::string PercentsUndoubled(const std::string& name)
{
    std::string plain;
    for (size_t index = 0; index < name.size(); ++index) {
        plain += name[index];
        if (name[index] == '%' && index + 1 < name.size() && name[index + 1] == '%')
            ++index;
    }
    return plain;
}

// The checks between the parts: direction, sequence names, option values.
int CheckSequence(const RawArguments& raw, ConvertJob& job)
{
    std::string error;
    if (!raw.framesGiven) {
        // One file each. Before "--" a frame number is refused, lest a
        // pattern be taken for a file, and "%%" names a '%'; after it names
        // are taken as they are.
        for (size_t index = 0; index < 2 && index < raw.literalFrom; ++index) {
            std::string& name = index == 0 ? job.input : job.output;
            if (LooksNumbered(name))
                return UsageError("convert", "'" + name +
                                                 "' numbers frames: give --frames LIST, or "
                                                 "write %% for a '%' in a name");
            name = PercentsUndoubled(name);
        }
        return kExitSuccess;
    }
    job.sequence = true;
    if (job.input == "-" || job.output == "-")
        return UsageError("convert", "a sequence cannot use standard input or output");
    if (!ParseFrameRange(raw.frames, job.frames, error) ||
        !ParseFramePattern(job.input, job.inputPattern, error))
        return UsageError("convert", error);
    if (job.output.find('%') != std::string::npos || !job.toPic) {
        if (!ParseFramePattern(job.output, job.outputPattern, error))
            return UsageError("convert", error);
        job.outputNumbered = true;
    }
    return kExitSuccess;
}

int CheckDirection(const RawArguments& raw, ConvertJob& job)
{
    if (!raw.to.empty()) {
        job.outputFormat = OutputFormatOfWord(raw.to);
        if (job.outputFormat == nullptr)
            return UsageError("convert",
                              "--to takes " + OutputWords(false) + ", not '" + raw.to + "'");
    } else if (job.output == "-") {
        return UsageError("convert", "writing to standard output needs --to " + OutputWords(false));
    } else {
        job.outputFormat = OutputFormatOfName(job.output);
        if (job.outputFormat == nullptr)
            return UsageError("convert",
                              "OUT must end in " + OutputWords(true) + " (or give --to)");
    }
    job.toPic = job.outputFormat == &PicFormat();
    const bool pam = std::string(job.outputFormat->name) == "PAM";
    if (raw.depthGiven && !job.outputFormat->sixteenBitOutput)
        return UsageError("convert", "--depth applies to " + SixteenBitFormatNames() + " output");
    if (raw.hostPixels && !pam)
        return UsageError("convert", "--host-pixels applies to PAM output");
    if (!job.toPic && raw.picOnlyGiven)
        return UsageError("convert", raw.picOnlyName + " applies when writing PIC");
    if (!job.toPic && raw.premult)
        return UsageError("convert", "--premult applies when writing PIC (--unpremult reads it)");
    if (job.toPic && raw.unpremult)
        return UsageError("convert", "--unpremult applies when reading PIC (--premult writes it)");
    if (!raw.quality.empty() && std::string(job.outputFormat->name) != "JPEG")
        return UsageError("convert", "--quality applies to JPEG output");
    if (raw.hostPixels && raw.depthGiven)
        return UsageError("convert", "--host-pixels writes 16 bits: leave out --depth");
    if (raw.depthGiven && raw.depth != "8" && raw.depth != "16")
        return UsageError("convert", "--depth must be 8 or 16");
    job.write.depth = raw.hostPixels      ? SampleDepth::HostPixels
                      : raw.depth == "16" ? SampleDepth::Sixteen
                                          : SampleDepth::Eight;
    job.premultiply = raw.premult;
    job.unpremultiply = raw.unpremult;
    job.write.straightAlpha = raw.unpremult;
    return kExitSuccess;
}

// Cuts the comment to what the header keeps, between characters, and says
// so on stderr.
void FitComment(ConvertJob& job)
{
    if (job.comment.size() <= kCommentRoom)
        return;
    const size_t kept = Utf8CutLength(job.comment, kCommentRoom);
    std::fprintf(stderr,
                 "pictool: warning: --comment is %zu bytes; the header keeps %zu after the "
                 "driver's prefix: kept the first %zu bytes (%zu of %zu characters)\n",
                 job.comment.size(), kCommentRoom, kept, Utf8CharacterCount(job.comment, kept),
                 Utf8CharacterCount(job.comment, job.comment.size()));
    job.comment.resize(kept);
}

int CheckValues(const RawArguments& raw, ConvertJob& job)
{
    std::string why;
    if (raw.aspectGiven && !ParseAspect(raw.aspect, job.aspect, why))
        return UsageError("convert", "--aspect '" + raw.aspect + "': " + why);
    uint64_t value = 0;
    if (!raw.jobs.empty()) {
        if (!ParseCount(raw.jobs, kMaxJobs, value))
            return UsageError("convert", "--jobs '" + raw.jobs + "': give a number from 1 to " +
                                             std::to_string(kMaxJobs));
        job.jobs = int(value);
    } else {
        job.jobs = int(std::max(1u, std::min(std::thread::hardware_concurrency(), 64u)));
    }
    if (!raw.maxPixels.empty()) {
        if (!ParseCount(raw.maxPixels, kMaxImagePixels, value))
            return UsageError("convert", "--max-pixels '" + raw.maxPixels +
                                             "': give a number from 1 to " +
                                             std::to_string(kMaxImagePixels) + " (2^" +
                                             std::to_string(kMaxStoragePixelsLog2) + ")");
        job.read.maxPixels = value;
    }
    if (!raw.maxScans.empty()) {
        if (!ParseCount(raw.maxScans, UINT32_MAX, value))
            return UsageError("convert", "--max-scans '" + raw.maxScans +
                                             "': give a number from 1 to " +
                                             std::to_string(UINT32_MAX));
        job.read.maxScans = uint32_t(value);
    }
    if (!raw.maxBlockMib.empty()) {
        if (!ParseCount(raw.maxBlockMib, kMaxBlockMibOption, value))
            return UsageError("convert", "--max-block-mib '" + raw.maxBlockMib +
                                             "': give a number from 1 to " +
                                             std::to_string(kMaxBlockMibOption));
        job.read.maxBlockMib = value;
    }
    if (!raw.quality.empty()) {
        if (!ParseCount(raw.quality, 100, value))
            return UsageError("convert",
                              "--quality '" + raw.quality + "': give a number from 1 to 100");
        job.write.quality = int(value);
    }
    std::string error;
    if (!job.optionsPath.empty() && !ReadOptionsFile(job.optionsPath, job.optionsBlock, error))
        return UsageError("convert", error);
    return kExitSuccess;
}

int ParseConvertArguments(const std::vector<std::string>& arguments, ConvertJob& job)
{
    RawArguments raw;
    if (const int status = SplitArguments(arguments, raw, job))
        return status;
    if (raw.names.size() != 2)
        return UsageError("convert", "give one input and one output");
    job.input = raw.names[0];
    job.output = raw.names[1];
    if (const int status = CheckDirection(raw, job))
        return status;
    if (const int status = CheckSequence(raw, job))
        return status;
    if (const int status = CheckValues(raw, job))
        return status;
    FitComment(job);
    return kExitSuccess;
}

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

std::vector<FrameTask> MakeTasks(const ConvertJob& job)
{
    if (!job.sequence)
        return {FrameTask{kSingleFrame, job.input, job.output}};
    std::vector<FrameTask> tasks;
    for (const int frame : job.frames.frames)
        tasks.push_back(FrameTask{frame, FrameName(job.inputPattern, frame),
                                  job.outputNumbered ? FrameName(job.outputPattern, frame)
                                                     : DriverFrameName(job.output, frame)});
    return tasks;
}

// Takes the tasks whose output exists out of `tasks`, saying so for each;
// returns their outputs.
std::vector<std::string> SkipExistingOutputs(std::vector<FrameTask>& tasks)
{
    std::vector<std::string> skipped;
    std::vector<FrameTask> left;
    for (FrameTask& task : tasks) {
        std::error_code error;
        const auto status = std::filesystem::symlink_status(task.output, error);
        if (task.output == "-" || error || !std::filesystem::exists(status)) {
            left.push_back(std::move(task));
            continue;
        }
        std::fprintf(stderr, "pictool: %s\n", SkippedText(task.output).c_str());
        skipped.push_back(task.output);
    }
    tasks = std::move(left);
    return skipped;
}

// Runs every task on up to job.jobs threads, each with its own progress
// window, and reports each failure as it happens.
std::vector<FrameOutcome> RunTasks(const Plugin& plugin, const ConvertJob& job,
                                   const std::vector<FrameTask>& tasks, ProgressDisplay& display)
{
    std::vector<FrameOutcome> outcomes(tasks.size());
    std::atomic<size_t> next{0};
    const auto work = [&] {
        ProgressWindow window(display);
        for (size_t index; (index = next++) < tasks.size();) {
            const FrameTask& task = tasks[index];
            outcomes[index] = job.toPic ? ConvertFrameToPic(plugin, job, task, window)
                                        : ConvertFrameFromPic(plugin, job, task, window);
            const FrameOutcome& outcome = outcomes[index];
            for (const std::string& warning : outcome.warnings)
                display.Message("pictool: warning: " + task.input + ": " +
                                (job.sequence ? "frame " + std::to_string(task.frame) + ": " : "") +
                                warning);
            if (outcome.skipped)
                display.Message("pictool: " + SkippedText(task.output));
            else if (!outcome.ok || outcome.damaged)
                display.Message(std::string(outcome.ok ? "pictool: warning: " : "pictool: ") +
                                outcome.errorFile + ": " +
                                (job.sequence ? "frame " + std::to_string(task.frame) + ": " : "") +
                                outcome.error);
            display.FrameDone();
        }
    };
    const size_t threads = std::min(size_t(job.jobs), tasks.size());
    std::vector<std::thread> workers;
    try {
        for (size_t index = 1; index < threads; ++index)
            workers.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the ones made share the frames.
    }
    work();
    for (std::thread& worker : workers)
        worker.join();
    return outcomes;
}

void PrintSummary(const ConvertJob& job, const std::vector<FrameTask>& tasks,
                  const std::vector<FrameOutcome>& outcomes, const std::string& runError,
                  std::vector<std::string> skipped, bool failed)
{
    JsonObject object;
    BMMRES status = kResultSuccess;
    std::string error = runError;
    std::vector<std::string> inputs, outputs, warnings;
    std::vector<JsonObject> failures, damaged;
    std::string firstDamage;
    const FrameOutcome* last = nullptr;
    int frames = 0;
    double driverMs = 0.0;
    std::string damage = "null";
    for (size_t index = 0; index < outcomes.size(); ++index) {
        const FrameOutcome& outcome = outcomes[index];
        inputs.push_back(tasks[index].input);
        for (const std::string& warning : outcome.warnings)
            warnings.push_back(tasks[index].input + ": " + warning);
        driverMs += outcome.driverMs;
        if (outcome.damaged && damage == "null")
            damage = outcome.damage;
        if (outcome.damaged) {
            if (firstDamage.empty())
                firstDamage = outcome.errorFile + ": " + outcome.error;
            JsonObject item;
            if (job.sequence)
                item.AddInteger("frame", tasks[index].frame);
            else
                item.AddJson("frame", "null");
            item.AddText("file", tasks[index].input);
            item.AddInteger("row", outcome.damageRow);
            item.AddInteger("offset", static_cast<long long>(outcome.damageOffset));
            item.AddText("reason", outcome.damageReason);
            damaged.push_back(item);
        }
        if (outcome.skipped) {
            skipped.push_back(tasks[index].output);
            continue;
        }
        if (outcome.ok) {
            outputs.push_back(tasks[index].output);
            last = &outcome;
            ++frames;
            continue;
        }
        if (outcome.status != kResultSuccess)
            status = outcome.status;
        if (error.empty())
            error = outcome.errorFile + ": " + outcome.error;
        JsonObject failure;
        if (job.sequence)
            failure.AddInteger("frame", tasks[index].frame);
        failure.AddText("file", outcome.errorFile);
        failure.AddInteger("status", outcome.status);
        failure.AddText("error", outcome.error);
        failures.push_back(failure);
    }
    object.AddInteger("status", status);
    // A damaged input without --allow-damaged fails the run with no error.
    if (error.empty() && failed)
        error = firstDamage;
    object.AddBool("ok", !failed);
    if (!error.empty())
        object.AddText("error", error);
    object.AddInteger("width", last ? last->width : 0);
    object.AddInteger("height", last ? last->height : 0);
    object.AddBool("alpha", last && last->withAlpha);
    object.AddBool("compressed", last && last->compressed);
    object.AddTextList("inputs", inputs);
    object.AddTextList("outputs", outputs);
    object.AddTextList("skipped", skipped);
    object.AddInteger("frames", frames);
    object.AddObjectList("failures", failures);
    object.AddNumber("driverMs", driverMs);
    object.AddJson("damage", damage);
    object.AddObjectList("damaged", damaged);
    // What the last frame written holds of the input's metadata.
    if (last == nullptr || AspectIsKnown(last->aspect))
        object.AddNumber("aspect", last ? double(last->aspect) : 1.0);
    else
        object.AddJson("aspect", "null");
    object.AddText("comment", last ? last->comment : "");
    object.AddTextList("carried", last ? last->carried : std::vector<std::string>{});
    object.AddTextList("warnings", warnings);
    // The image itself may be on stdout: the summary then goes to stderr.
    std::fprintf(job.output == "-" ? stderr : stdout, "%s\n", object.Text().c_str());
    FlushStandardOutput();
}

int RunConvert(PictoolContext& context, const std::vector<std::string>& arguments)
{
    ConvertJob job;
    if (const int status = ParseConvertArguments(arguments, job))
        return status;
    const Plugin* plugin = context.LoadedPlugin();
    if (plugin == nullptr)
        return kExitFailure;

    std::vector<FrameTask> tasks = MakeTasks(job);
    const std::vector<std::string> skipped =
        job.noClobber ? SkipExistingOutputs(tasks) : std::vector<std::string>{};
    std::vector<FrameOutcome> outcomes;
    std::string runError;
    {
        ProgressDisplay display(!job.quiet && StderrIsTerminal(), int(tasks.size()));
        outcomes = RunTasks(*plugin, job, tasks, display);
    }
    bool failed = false;
    const FrameOutcome* last = nullptr;
    for (const FrameOutcome& outcome : outcomes) {
        failed = failed || !outcome.ok || (outcome.damaged && !job.allowDamaged);
        if (outcome.ok && outcome.haveOptions)
            last = &outcome;
    }
    if (!job.saveOptionsPath.empty() && last != nullptr) {
        std::string error;
        if (!WriteOptionsFile(&last->options, job.saveOptionsPath, error)) {
            runError = job.saveOptionsPath + ": " + error;
            std::fprintf(stderr, "pictool: %s\n", runError.c_str());
            failed = true;
        }
    }
    if (job.json)
        PrintSummary(job, tasks, outcomes, runError, skipped, failed);
    return failed ? kExitFailure : kExitSuccess;
}

} // namespace

FrameOutcome FrameFailure(const std::string& file, const std::string& what, BMMRES status)
{
    FrameOutcome outcome;
    outcome.status = status;
    outcome.errorFile = file;
    outcome.error = what;
    return outcome;
}

FrameOutcome FrameSkipped()
{
    FrameOutcome outcome;
    outcome.ok = true;
    outcome.skipped = true;
    return outcome;
}

bool SaveDriverOptions(BitmapIO& driver, PicOptions& options)
{
    if (driver.OptionsSize() != kPicOptionsSize)
        return false;
    return driver.SaveOptions(&options) == 1;
}

namespace {

std::string ConvertHelp()
{
    return "Usage: pictool convert [OPTIONS] IN OUT\n"
           "\n"
           "OUT's extension (or --to) says which way: .pic writes IN, an image or a PIC\n"
           "file, as a PIC file; any other reads IN as a PIC file and writes that\n"
           "image. IN's format is told by its content, not its name. All PIC work is\n"
           "done by drivers the plug-in makes: LoadImage to read, OpenForWrite and\n"
           "WriteFrame to write, drivers of its own for each frame.\n"
           "\n"
           "Names. IN may be '-' (standard input), /dev/stdin, a pipe or a FIFO; OUT\n"
           "may be '-'. PIC inputs and outputs may have any path the system takes: the\n"
           "driver is handed a shorter name of the same file where the system has one\n"
           "(where it has none, a PIC name must fit the host's " +
           std::to_string(kMaxPathLength - 1) +
           "-byte name field, or\n"
           "that frame fails).\n"
           "\n"
           "Outputs are written where \"wb\" would write them, the system deciding, under\n"
           "a private temporary name beside them, and take their names when whole (an\n"
           "earlier file keeps its mode, owner and attributes, and is never left half\n"
           "written); Ctrl-C removes every temporary file.\n"
           "\n"
           "Formats of this pictool (name, extensions, what is read and written):\n" +
           FormatHelpLines() +
           "\n"
           "Samples. PIC holds 8 bits a channel. 8-bit samples are carried exactly\n"
           "both ways. 16-bit samples are rounded to 8 bits; --depth 16 writes each\n"
           "8-bit value times 257. Float samples (EXR, TIFF) become round(v * 255)\n"
           "after clamping v to [0, 1]; PIC to EXR writes value / 255 as half floats.\n"
           "No colour transform is applied either way: no sRGB or linear\n"
           "conversion, no gamma. Grey becomes RGB. JPEG output is lossy.\n"
           "\n"
           "Alpha. PIC alpha is carried byte for byte: a premultiplied render stays\n"
           "premultiplied (and may show dark edges where viewers expect straight\n"
           "alpha). TIFF output labels it associated, or unassociated after\n"
           "--unpremult; a TIFF's alpha is read as stored, labelled either way.\n"
           "  --unpremult            reading PIC: colour = round(colour * 255 / alpha)\n"
           "                         (alpha 0 and 255 leave colour as it is)\n"
           "  --premult              writing PIC from an image: colour =\n"
           "                         round(colour * alpha / 255) (alpha 0 gives 0)\n"
           "\n"
           "Metadata. The pixel aspect ratio and the comment travel between PIC and\n"
           "the formats that hold them (PNG pHYs and tEXt Comment, TIFF X/Y\n"
           "resolution and ImageDescription, EXR pixelAspectRatio and comments, JPEG\n"
           "JFIF density and COM). The driver's \"Created with ...:\" prefix stays\n"
           "behind, so PIC -> PNG -> PIC gives the same comment.\n"
           "\n"
           "Writing PIC (without these, what IN has; from an image without them,\n"
           "the driver's defaults: RLE on, empty comment, aspect 1):\n"
           "  --alpha, --no-alpha    RGBA or RGB (the last one given wins)\n"
           "  --rle, --raw           run-length coded or raw rows\n"
           "  --comment TEXT         the user comment; the header keeps " +
           std::to_string(kCommentRoom) +
           " bytes after\n"
           "                         the driver's prefix, and a longer comment is cut\n"
           "                         between characters with a warning (a comment\n"
           "                         carried from IN is cut likewise, silently)\n"
           "  --aspect R             the pixel aspect ratio stored in the header:\n"
           "                         any finite number above 0 a 32-bit float holds\n"
           "  --options FILE         a saved 96-byte options block, given to the driver\n"
           "                         (LoadOptions) first; the flags above then edit it,\n"
           "                         and IN's alpha, layout and comment are not used\n"
           "  --save-options FILE    the driver's options block (SaveOptions) after the\n"
           "                         write, 96 bytes\n"
           "  An image without alpha written with alpha gets alpha 255 (opaque).\n"
           "\n"
           "Reading images (writing PIC):\n"
           "  --part P               EXR: the part to read, by number (from 0) or name\n"
           "  --ch LIST              EXR: a layer's name (diffuse), or 1 to 4 channel\n"
           "                         names separated by commas, as oiiotool's --ch:\n"
           "                         grey, grey and alpha, RGB or RGBA. Without these,\n"
           "                         the first part with colour, and in it the\n"
           "                         unnamed R, G, B, A, else the one layer that has\n"
           "                         them; a warning names the parts and layers left\n"
           "  --max-block-mib N      refuse an EXR block or tile (with all its\n"
           "                         channels), a TIFF strip or tile, or a PNG chunk\n"
           "                         other than pixels, that declares more than N MiB\n"
           "                         decoded, before decoding it\n"
           "                         (default " +
           std::to_string(kDefaultMaxBlockMib) +
           ")\n"
           "  --max-scans N          refuse a JPEG at its scan N + 1 (default " +
           std::to_string(kDefaultMaxScans) +
           ";\n"
           "                         progressive files have about 10)\n"
           "\n"
           "Reading PIC:\n"
           "  Outputs carry the file's own 8-bit values: RGB when the PIC has no\n"
           "  alpha, RGBA when it has (JPEG: RGB only).\n"
           "  --depth 16             16 bits a sample (" +
           SixteenBitFormatNames() +
           "), each value\n"
           "                         times 257 (255 becomes 65535)\n"
           "  --quality N            JPEG quality, 1 to 100 (default 90)\n"
           "  --host-pixels          PAM only: the host's 16-bit storage as loaded, DEPTH\n"
           "                         4, MAXVAL 65535, TUPLTYPE RGB_ALPHA, each value the\n"
           "                         file's byte times 256, alpha 0 when the file has none\n"
           "  A damaged PIC file (cut short, or a run-length row that does not decode)\n"
           "  is written as the driver loads it (run-length rows stop at the damage and\n"
           "  the rest stay 0; raw bytes past the end read 255), with one warning line\n"
           "  naming the file, the first damaged row and the reason, and exit status 1.\n"
           "  --allow-damaged        exit 0 for a damaged PIC file all the same\n"
           "\n"
           "Sequences:\n"
           "  --frames LIST          the frames to convert, as oiiotool lists them:\n"
           "                         1-100, 1-100x4 (every 4th: 1, 5, ... 97),\n"
           "                         1,5,10-20, in the order given, each once; frames 0\n"
           "                         to 99999999. A list that names no frame (5-1) is a\n"
           "                         usage error. IN is a name pattern with one %d, %Nd\n"
           "                         or %0Nd (N from 1 to 9; %% is a '%'), such as\n"
           "                         in%04d.png. OUT is a pattern too (out%04d.pic), or\n"
           "                         for PIC a plain name that the driver numbers:\n"
           "                         out.pic gives out0001.pic, ... A missing or failed\n"
           "                         frame is reported and the others go on.\n"
           "  --jobs N               convert N frames at once (default: the number of\n"
           "                         cores; 1 is one after another). Outputs do not\n"
           "                         depend on N. Each frame in work holds its pixels\n"
           "                         once, 8 bytes a pixel in the host's storage, and\n"
           "                         rows stream through it: N frames of W x H take\n"
           "                         about N * 8 * W * H bytes.\n"
           "\n"
           "Other options:\n"
           "  --to " +
           OutputWords(false) +
           "\n"
           "                         the output format, whatever OUT's name; needed when\n"
           "                         OUT is '-'\n"
           "  --max-pixels N         refuse inputs that declare more than N pixels,\n"
           "                         PIC headers included, before anything is\n"
           "                         allocated (default " +
           std::to_string(kMaxImagePixels) + ", 2^" + std::to_string(kMaxStoragePixelsLog2) +
           ",\n"
           "                         what the host's storage holds)\n"
           "  --json                 one JSON object on stdout (stderr when OUT is '-'):\n"
           "                         status (the driver's last failing result code, else\n"
           "                         0), ok (false whenever the exit status is not 0),\n"
           "                         error (on failure), width, height, alpha,\n"
           "                         compressed, inputs, outputs, frames (converted),\n"
           "                         skipped (outputs --no-clobber left alone),\n"
           "                         failures (frame, file, status and error of each),\n"
           "                         driverMs (wall-clock ms inside LoadImage or\n"
           "                         WriteFrame), damage (null, or the first damaged\n"
           "                         PIC input's {\"row\", \"offset\", \"reason\"}, as\n"
           "                         'pictool check --json' gives it), damaged (every\n"
           "                         damaged PIC input: frame, null for a single image,\n"
           "                         file, row, offset, reason), and of the last\n"
           "                         frame written: aspect (null when unknown),\n"
           "                         comment, and carried (which of \"aspect\" and\n"
           "                         \"comment\" came from IN and OUT holds), and\n"
           "                         warnings (\"FILE: what was left\" of every frame)\n"
           "  --no-clobber, -n       leave an OUT (or a frame's output) that exists as it\n"
           "                         is: one line on stderr says it was skipped, and it\n"
           "                         is no failure; checked before the first frame starts\n"
           "                         and as each output takes its name, so that one that\n"
           "                         appears meanwhile is kept\n"
           "  --quiet, -q            no progress line\n"
           "  --help, -h             this text\n"
           "  --                     what follows are names, even if they start with '-'\n"
           "                         and, without --frames, even if they hold a '%'\n"
           "\n"
           "'%' in names. Without --frames IN and OUT name one file each: a name\n"
           "holding %d, %Nd or %0Nd is refused lest a pattern be taken for a file;\n"
           "write %% for its '%' (100%%d.pic names 100%d.pic), or give the names\n"
           "after '--', where they are taken as they are. A lone '%' is itself.\n"
           "\n"
           "'-' as IN reads standard input, its format told by its content; as OUT it\n"
           "writes standard output in the format --to names.\n"
           "\n"
           "When stderr is a terminal, one progress line is redrawn in place: frames\n"
           "done of all, the current frame and its percentage.\n"
           "\n"
           "Exit status: 0 success; 1 an image failed (one line on stderr each, naming\n"
           "the file and what happened), a PIC input is damaged (without\n"
           "--allow-damaged) or standard output cannot be written; 2 usage error,\n"
           "including an options file that is not a 96-byte block.\n";
}

} // namespace

const PictoolCommand ConvertCommand = {
    "convert",
    "images to PIC files and back, and PIC to PIC, through the plug-in",
    ConvertHelp,
    RunConvert,
};

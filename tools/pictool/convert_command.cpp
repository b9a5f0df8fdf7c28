// `pictool convert IN OUT`: the command line, its checks, the help text and
// the --json summary. The work itself is in convert_to_pic.cpp and
// convert_from_pic.cpp.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "host/bmm_functions.h"
#include "tools/pictool/command.h"
#include "tools/pictool/convert_job.h"
#include "tools/pictool/json_writer.h"
#include "tools/pictool/progress_bar.h"

namespace {

// The command line as given, before the checks that relate its parts.
struct RawArguments {
    std::vector<std::string> names;
    std::string frames;
    std::string depth;
    std::string aspect;
    bool framesGiven = false;
    bool depthGiven = false;
    bool aspectGiven = false;
    bool picOnlyGiven = false; // an option that only writing PIC uses
    std::string picOnlyName;
};

bool TakesValue(const std::string& name)
{
    for (const char* option :
         {"--frames", "--depth", "--aspect", "--comment", "--options", "--save-options"})
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
        return;
    }
    if (name == "--depth") {
        raw.depth = value;
        raw.depthGiven = true;
        return;
    }
    if (name == "--aspect") {
        raw.aspect = value;
        raw.aspectGiven = true;
    } else if (name == "--comment") {
        job.comment = value;
        job.commentGiven = true;
    } else if (name == "--options") {
        job.optionsPath = value;
    } else {
        job.saveOptionsPath = value;
    }
    raw.picOnlyGiven = true;
    raw.picOnlyName = name;
}

bool TakeFlagOption(const std::string& name, RawArguments& raw, ConvertJob& job)
{
    if (name == "--json") {
        job.json = true;
        return true;
    }
    if (name == "--allow-damaged") {
        job.allowDamaged = true;
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
            raw.names.insert(raw.names.end(), arguments.begin() + long(index) + 1, arguments.end());
            break;
        }
        if (argument.size() < 2 || argument[0] != '-') {
            raw.names.push_back(argument);
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

// A number that is the whole of `text`, above 0 and at most 10^6.
bool ParseAspect(const std::string& text, float& aspect)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value) || value <= 0.0 || value > 1e6)
        return false;
    aspect = float(value);
    return true;
}

bool LooksNumbered(const std::string& name)
{
    FramePattern pattern;
    std::string error;
    return ParseFramePattern(name, pattern, error);
}

// The checks between the parts: direction, sequence names, option values.
int CheckSequence(const RawArguments& raw, ConvertJob& job)
{
    std::string error;
    if (!raw.framesGiven) {
        for (const std::string& name : {job.input, job.output})
            if (LooksNumbered(name))
                return UsageError("convert", "'" + name +
                                                 "' numbers frames: give --frames "
                                                 "FIRST-LAST");
        return kExitSuccess;
    }
    job.sequence = true;
    if (!ParseFrameRange(raw.frames, job.frames, error) ||
        !ParseFramePattern(job.input, job.inputPattern, error))
        return UsageError("convert", error);
    if (job.toPic) {
        if (job.output.find('%') != std::string::npos)
            return UsageError("convert", "the driver numbers PIC frames itself: give a plain "
                                         "name such as out.pic");
    } else if (!ParseFramePattern(job.output, job.outputPattern, error)) {
        return UsageError("convert", error);
    }
    const std::string longest = FrameName(job.inputPattern, job.frames.last);
    if (longest.size() >= size_t(kMaxPathLength))
        return UsageError("convert", "frame names longer than 259 bytes");
    return kExitSuccess;
}

int CheckDirection(const RawArguments& raw, ConvertJob& job)
{
    job.outputFormat = FormatFromExtension(job.output);
    if (job.outputFormat == ImageFormat::Unknown)
        return UsageError("convert", "OUT must end in .pic, .png or .pam");
    job.toPic = job.outputFormat == ImageFormat::Pic;
#if !defined(PICTOOL_HAVE_PNG)
    if (job.outputFormat == ImageFormat::Png)
        return UsageError("convert", "this pictool is built without PNG support: write .pam");
#endif
    if (job.toPic && raw.depthGiven)
        return UsageError("convert", "--depth applies to PNG output");
    if (!job.toPic && raw.picOnlyGiven)
        return UsageError("convert", raw.picOnlyName + " applies when writing PIC");
    if (raw.depthGiven) {
        if (raw.depth != "8" && raw.depth != "16")
            return UsageError("convert", "--depth must be 8 or 16");
        if (job.outputFormat != ImageFormat::Png)
            return UsageError("convert", "--depth applies to PNG output");
        job.pngDepth = raw.depth == "16" ? 16 : 8;
    }
    return kExitSuccess;
}

int CheckPicOptions(const RawArguments& raw, ConvertJob& job)
{
    if (raw.aspectGiven && !ParseAspect(raw.aspect, job.aspect))
        return UsageError("convert", "--aspect must be a number above 0");
    if (job.comment.size() >= size_t(kPicOptionsCommentSize))
        return UsageError("convert", "--comment holds at most 79 bytes");
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
    for (const std::string& name : raw.names)
        if (name.size() >= size_t(kMaxPathLength))
            return UsageError("convert", "names longer than 259 bytes");
    if (const int status = CheckDirection(raw, job))
        return status;
    if (const int status = CheckSequence(raw, job))
        return status;
    return CheckPicOptions(raw, job);
}

void PrintSummary(const ConvertSummary& summary)
{
    JsonObject object;
    object.AddInteger("status", summary.status);
    object.AddBool("ok", summary.ok);
    if (!summary.error.empty())
        object.AddText("error", summary.error);
    object.AddInteger("width", summary.width);
    object.AddInteger("height", summary.height);
    object.AddBool("alpha", summary.withAlpha);
    object.AddBool("compressed", summary.compressed);
    object.AddTextList("inputs", summary.inputs);
    object.AddTextList("outputs", summary.outputs);
    object.AddInteger("frames", summary.frames);
    object.AddNumber("driverMs", summary.driverMs);
    object.AddJson("damage", summary.damage);
    std::printf("%s\n", object.Text().c_str());
    std::fflush(stdout);
}

int RunConvert(PictoolContext& context, const std::vector<std::string>& arguments)
{
    ConvertJob job;
    if (const int status = ParseConvertArguments(arguments, job))
        return status;
    const Plugin* plugin = context.LoadedPlugin();
    if (plugin == nullptr)
        return kExitFailure;

    ConvertSummary summary;
    int status = kExitFailure;
    try {
        ProgressBar bar(StderrIsTerminal());
        status = job.toPic ? ConvertToPic(*plugin, job, bar, summary)
                           : ConvertFromPic(*plugin, job, bar, summary);
    } catch (const std::bad_alloc&) {
        status = ConvertFailure(summary, job.input, "out of memory");
    }
    if (job.json)
        PrintSummary(summary);
    return status;
}

} // namespace

int ConvertFailure(ConvertSummary& summary, const std::string& name, const std::string& what)
{
    summary.ok = false;
    summary.error = name + ": " + what;
    std::fprintf(stderr, "pictool: %s\n", summary.error.c_str());
    return kExitFailure;
}

std::string DriverFailureText(const char* what, BMMRES result)
{
    BMMErrorRecord record{};
    const int count = BMMReportedErrorCount();
    std::string text = std::string(what) + " (result " + std::to_string(result);
    if (count > 0 && BMMGetReportedError(count - 1, &record)) {
        record.message[sizeof record.message - 1] = '\0';
        if (record.message[0] != '\0')
            text += std::string(": ") + record.message;
    }
    return text + ")";
}

std::string ProgressLabel(const ConvertJob& job, int index, const std::string& name)
{
    if (!job.sequence)
        return name;
    return "frame " + std::to_string(index + 1) + "/" + std::to_string(job.frames.Count()) + " " +
           name;
}

bool SaveDriverOptions(BitmapIO& driver, PicOptions& options)
{
    if (driver.OptionsSize() != kPicOptionsSize)
        return false;
    return driver.SaveOptions(&options) == 1;
}

const PictoolCommand ConvertCommand = {
    "convert",
    "PNG or PAM images to PIC files and back, through the plug-in",
    "Usage: pictool convert [OPTIONS] IN OUT\n"
    "\n"
    "OUT's extension says which way: .pic writes IN (a PNG or PAM image) as a\n"
    "PIC file; .png or .pam reads IN as a PIC file and writes that image. All\n"
    "PIC work is done by a driver the plug-in makes: LoadImage to read,\n"
    "OpenForWrite once and WriteFrame per image to write.\n"
    "\n"
    "Writing PIC (defaults are the driver's: alpha on, RLE on, empty comment):\n"
    "  --alpha, --no-alpha    32-bit RGBA or 24-bit RGB (the last one given wins)\n"
    "  --rle, --raw           run-length coded or raw rows\n"
    "  --comment TEXT         the user comment, at most 79 bytes; the header keeps\n"
    "                         the first 44 after the driver's own 35-byte prefix\n"
    "  --aspect R             the pixel aspect ratio stored in the header (1.0)\n"
    "  --options FILE         a saved 96-byte options block, given to the driver\n"
    "                         (LoadOptions) before anything else; the flags above\n"
    "                         then edit it\n"
    "  --save-options FILE    the driver's options block (SaveOptions) after the\n"
    "                         write, 96 bytes\n"
    "  8-bit samples v are stored as v << 8 and 16-bit samples as they are, so the\n"
    "  PIC file keeps the high byte. Grey, palette and grey+alpha PNGs are\n"
    "  expanded to RGB(A); a tRNS chunk counts as alpha. An image without alpha\n"
    "  written with alpha gets alpha 0xFF00 (stored 255, opaque). PAM input:\n"
    "  P7 with DEPTH 1 to 4 and MAXVAL 255 or 65535.\n"
    "\n"
    "Reading PIC:\n"
    "  PNG output is RGB or RGBA as the PIC file is, 8 bits per channel (the high\n"
    "  byte of each host channel).\n"
    "  --depth 16             write the host channels unchanged as 16-bit PNG\n"
    "  A damaged PIC file (cut short, or a run-length row that does not decode)\n"
    "  is written as the driver loads it (run-length rows stop at the damage and\n"
    "  the rest stay 0; raw bytes past the end read 255), with one warning line\n"
    "  naming the file, the first damaged row and the reason, and exit status 1.\n"
    "  --allow-damaged        exit 0 for a damaged PIC file all the same\n"
    "  PAM output is always P7, DEPTH 4, MAXVAL 65535, TUPLTYPE RGB_ALPHA: the\n"
    "  four host channels exactly as stored, big-endian, alpha 0 when the file\n"
    "  has none.\n"
    "\n"
    "Sequences:\n"
    "  --frames FIRST-LAST    IN (and a PNG or PAM OUT) is a name pattern with one\n"
    "                         %d, %Nd or %0Nd (N from 1 to 9; %% is a '%'), such as\n"
    "                         in%04d.png. A PIC OUT is a plain name that the driver\n"
    "                         numbers: out.pic gives out0001.pic, ... (frames 0 to\n"
    "                         99999999). Without --frames, one image is written\n"
    "                         under OUT itself.\n"
    "\n"
    "Other options:\n"
    "  --json                 one JSON object on stdout: status (the driver's\n"
    "                         result code, 0 when it did not fail), ok, error (on\n"
    "                         failure), width, height, alpha, compressed, inputs,\n"
    "                         outputs, frames and driverMs (wall-clock ms inside\n"
    "                         LoadImage or WriteFrame), damage (null, or the\n"
    "                         first damaged PIC input's {\"row\", \"offset\",\n"
    "                         \"reason\"}, as 'pictool check --json' gives it)\n"
    "  --help, -h             this text\n"
    "  --                     what follows are names, even if they start with '-'\n"
    "\n"
    "A progress bar (frame i/n for sequences) is drawn on stderr when stderr is\n"
    "a terminal.\n"
#if !defined(PICTOOL_HAVE_PNG)
    "\n"
    "This build of pictool has no PNG support (libpng is not available for it):\n"
    "use PAM files.\n"
#endif
    "\n"
    "Exit status: 0 success; 1 an image failed (one line on stderr naming the\n"
    "file and, for a driver failure, its result code and the host's message)\n"
    "or a PIC input is damaged (without --allow-damaged);\n"
    "2 usage error, including an options file that is not a 96-byte block.\n",
    RunConvert,
};

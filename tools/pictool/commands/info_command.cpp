// pictool info: a file's image information as a driver's ReadImageInfo
// reads it, with the layout the driver's options record after the read.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver/pic_options.h"
#include "engine/convert/failure_text.h"
#include "engine/convert/pic_input.h"
#include "engine/formats/image_format.h"
#include "engine/formats/image_output.h"
#include "engine/support/json_writer.h"
#include "engine/support/utf8_text.h"
#include "host/bmm_functions.h"
#include "pic/byte_source.h"
#include "pic/pic_header.h"
#include "tools/pictool/commands/command.h"
#include "tools/pictool/commands/option_table.h"
#include "tools/pictool/convert/driver_codec.h"
#include "tools/pictool/support/options_file.h"
#include "tools/pictool/support/short_name.h"
#include "tools/pictool/support/standard_output.h"

namespace {

struct InfoArguments {
    bool json = false;
    std::string optionsPath;
    std::vector<std::string> files;
};

// What one read found, or why it failed.
struct InfoReport {
    BMMRES result = kResultSuccess;
    std::string failure;
    BitmapInfo info;
    PicOptions options{};
    std::string comment;
    int bits = 8; // a channel, as the file's packets store them
};

const std::vector<OptionRow<InfoArguments>>& InfoOptions()
{
    static const std::vector<OptionRow<InfoArguments>> rows = {
        {{"--json", 0, nullptr, OptionScope::Any, nullptr, "",
          "JSON Lines: one JSON object per file, one per line, with\nthe keys file, result, "
          "width, height, aspect, gamma,\ntype, bits, firstFrame, lastFrame, withAlpha, "
          "rgbCompressed,\nalphaCompressed and comment; for a file that cannot be\nread file, "
          "result (the driver's code) and error (words)"},
         [](InfoArguments& parsed, const std::string&, std::string&) {
             parsed.json = true;
             return true;
         }},
        {{"--options", 0, "BLOCK", OptionScope::Any, nullptr, "",
          "a saved 96-byte options block, given to each driver\n(LoadOptions) before it reads"},
         [](InfoArguments& parsed, const std::string& value, std::string&) {
             parsed.optionsPath = value;
             return true;
         }},
        {{"--help", 'h', nullptr, OptionScope::Any, nullptr, "", "this text"}, nullptr},
        {{"--", 0, nullptr, OptionScope::Any, nullptr, "",
          "what follows is a file, even if it starts with '-'"},
         nullptr},
    };
    return rows;
}

int ParseInfoArguments(const std::vector<std::string>& arguments, InfoArguments& parsed)
{
    ParsedLine line;
    if (const int status = ParseOptions("info", InfoOptions(), arguments, parsed, line))
        return status;
    parsed.files = line.names;
    if (parsed.files.empty())
        return UsageError("info", "no file given");
    return kExitSuccess;
}

// Printable ASCII and well-formed UTF-8 as they are, any other byte as \xNN.
std::string Printable(const std::string& text)
{
    std::string out;
    for (size_t index = 0; index < text.size(); ++index) {
        const auto byte = static_cast<unsigned char>(text[index]);
        const size_t character = Utf8CharacterLength(text.data() + index, text.size() - index);
        if (character > 1) {
            out.append(text, index, character);
            index += character - 1;
        } else if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out += char(byte);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", unsigned(byte));
            out += escape;
        }
    }
    return out;
}

void PrintPlain(const std::string& file, const InfoReport& report)
{
    const BitmapInfo& info = report.info;
    const bool rgba = info.Type() == kImageType32WithAlpha;
    std::printf("%s\n", file.c_str());
    std::printf("  size         %u x %u\n", unsigned(info.Width()), unsigned(info.Height()));
    if (AspectIsKnown(info.Aspect()))
        std::printf("  aspect       %g\n", double(info.Aspect()));
    else
        std::printf("  aspect       unknown (the header holds %g)\n", double(info.Aspect()));
    std::printf("  type         %s\n", rgba ? "32-bit RGBA" : "24-bit RGB");
    std::printf("  bits         %d a channel\n", report.bits);
    std::printf("  compression  colour %s", report.options.rgbCompressed == 1 ? "RLE" : "raw");
    if (rgba)
        std::printf(", alpha %s", report.options.alphaCompressed == 1 ? "RLE" : "raw");
    std::printf("\n  comment      %s\n", Printable(report.comment).c_str());
}

void PrintJson(const std::string& file, BMMRES result, const std::string& error,
               const InfoReport* report)
{
    JsonObject object;
    object.AddName("file", file);
    object.AddInteger("result", result);
    if (report == nullptr)
        object.AddText("error", error);
    else {
        const BitmapInfo& info = report->info;
        object.AddInteger("width", info.Width());
        object.AddInteger("height", info.Height());
        if (AspectIsKnown(info.Aspect()))
            object.AddNumber("aspect", info.Aspect());
        else
            object.AddJson("aspect", "null"); // unknown: 0, negative or not finite
        object.AddNumber("gamma", info.Gamma());
        object.AddInteger("type", info.Type());
        object.AddInteger("bits", report->bits);
        object.AddInteger("firstFrame", info.FirstFrame());
        object.AddInteger("lastFrame", info.LastFrame());
        object.AddInteger("withAlpha", report->options.withAlpha);
        object.AddInteger("rgbCompressed", report->options.rgbCompressed);
        object.AddInteger("alphaCompressed", report->options.alphaCompressed);
        object.AddText("comment", report->comment);
    }
    std::printf("%s\n", object.Text().c_str());
}

// ReadOne's answers besides the driver's result codes.
constexpr int kNoDriver = -1;
constexpr int kOptionsRefused = -2;
constexpr int kSaysWhy = -3; // `report.failure` says why (a name too long, a failed read)

// Why a driver's ReadImageInfo refused `input`.
std::string InfoFailureText(const PicInput& input, BMMRES result, const std::string& name)
{
    if (result != kResultBadHeader)
        return DriverResultText(result, name);
    if (input.headerStatus == PicHeaderStatus::BadMagic)
        return NotPicText(input.bytes.Data(), input.bytes.Size(), false);
    if (!input.HeaderRead())
        return PicHeaderStatusText(input.headerStatus);
    return "not a PIC file (its header is not understood)";
}

// Reads one file's header once, then its image information through a
// fresh driver from those bytes; returns the driver's result.
int ReadOne(const Plugin& plugin, const std::string& file, const OptionsBlock* optionsBlock,
            InfoReport& report)
{
    PicInput input;
    std::unique_ptr<ShortName> shortName;
    std::unique_ptr<StagingFile> staged;
    if (!ReadPicInputHeader(file, input)) {
        report.failure = PicInputFailureText(input);
        report.result = PicInputFailureResult(input);
        return kSaysWhy;
    }
    const std::string name = DriverInputName(input, shortName, staged, report.failure);
    if (name.empty()) {
        report.result = kResultSystemError;
        return kSaysWhy;
    }
    DriverPtr driver = plugin.NewDriver();
    if (!driver)
        return kNoDriver;
    if (optionsBlock != nullptr && !driver->LoadOptions(optionsBlock->bytes))
        return kOptionsRefused;
    report.info.SetName(name.c_str());
    BMMClearReportedErrors();
    report.result = driver->ReadImageInfo(&report.info);
    if (report.result != kResultSuccess) {
        report.failure = InfoFailureText(input, report.result, name);
        return report.result;
    }
    if (!SaveDriverOptions(*driver, report.options))
        return kNoDriver;
    report.comment = std::string(input.header.comment, PicCommentLength(input.header.comment));
    report.bits = PicChainBits(input.packets);
    return report.result;
}

// One file's lines: its information, or why it could not be read (on
// stderr, and in JSON); false when it could not.
bool ReportOne(const std::string& file, bool json, InfoReport& report, int result)
{
    if (result != kResultSuccess)
        std::fprintf(stderr, "pictool: %s: %s\n", file.c_str(), report.failure.c_str());
    if (json)
        PrintJson(file, report.result, report.failure,
                  result == kResultSuccess ? &report : nullptr);
    else if (result == kResultSuccess)
        PrintPlain(file, report);
    FlushStandardOutput();
    return result == kResultSuccess;
}

int RunInfo(PictoolContext& context, const std::vector<std::string>& arguments)
{
    InfoArguments parsed;
    if (const int status = ParseInfoArguments(arguments, parsed))
        return status;
    OptionsBlock optionsBlock;
    std::string error;
    if (!parsed.optionsPath.empty() && !ReadOptionsFile(parsed.optionsPath, optionsBlock, error))
        return UsageError("info", error);
    const Plugin* plugin = context.LoadedPlugin();
    if (plugin == nullptr)
        return kExitFailure;
    int status = kExitSuccess;
    for (const std::string& file : parsed.files) {
        InfoReport report;
        const int result =
            ReadOne(*plugin, file, parsed.optionsPath.empty() ? nullptr : &optionsBlock, report);
        if (result == kNoDriver) {
            std::fprintf(stderr, "pictool: the plug-in made no working driver\n");
            return kExitFailure;
        }
        if (result == kOptionsRefused) {
            std::fprintf(stderr, "pictool: the driver refused the options block %s\n",
                         parsed.optionsPath.c_str());
            return kExitFailure;
        }
        if (!ReportOne(file, parsed.json, report, result))
            status = kExitFailure;
    }
    return status;
}

std::string InfoHelp()
{
    std::vector<const OptionInfo*> rows;
    for (const OptionRow<InfoArguments>& row : InfoOptions())
        rows.push_back(&row.info);
    return "Usage: pictool info [--json] [--options BLOCK] FILE...\n"
           "\n"
           "Reads each file's image information through a driver of the plug-in\n"
           "(its ReadImageInfo operation), one fresh driver per file, from the\n"
           "file's header read once. FILE may be '-' (standard input), a pipe or a\n"
           "FIFO, and a path of any length the system takes.\n"
           "\n"
           "Options:\n" +
           OptionsHelp(rows, "") +
           "\n"
           "type is the host's image type: 6 = 32-bit RGBA, 8 = 24-bit RGB, for 16-bit\n"
           "files too. bits is the bits a channel the file stores: 16 when some\n"
           "channel's packet is 16-bit, else 8. withAlpha,\n"
           "rgbCompressed and alphaCompressed are the driver's options after the read\n"
           "(1 = set). The comment is the header's, up to its first zero byte. An\n"
           "aspect that is not a finite number above 0 is unknown: 'unknown' (null in\n"
           "JSON).\n"
           "\n"
           "Text in JSON is UTF-8 as it is; other bytes above 0x7F are \\u00XX, but in\n"
           "file names \\udcXX, as Python's surrogateescape reads them.\n"
           "\n"
           "Exit status: 0 when every file was read, 1 when any was not (one line on\n"
           "stderr each, saying what is wrong with it), 2 for a usage error or an\n"
           "options block that cannot be used.\n";
}

} // namespace

const PictoolCommand InfoCommand = {
    "info",
    "image information of PIC files, read by the plug-in",
    InfoHelp,
    RunInfo,
};

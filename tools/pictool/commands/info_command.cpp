// pictool info: a file's image information as a driver's ReadImageInfo
// reads it, with the layout the driver's options record after the read.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver/pic_options.h"
#include "host/bmm_functions.h"
#include "pic/pic_header.h"
#include "tools/pictool/commands/command.h"
#include "tools/pictool/convert/failure_text.h"
#include "tools/pictool/formats/image_format.h"
#include "tools/pictool/formats/image_input.h"
#include "tools/pictool/formats/image_output.h"
#include "tools/pictool/formats/pic_format.h"
#include "tools/pictool/support/json_writer.h"
#include "tools/pictool/support/options_file.h"
#include "tools/pictool/support/short_name.h"
#include "tools/pictool/support/standard_output.h"
#include "tools/pictool/support/utf8_text.h"

namespace {

struct InfoArguments {
    bool json = false;
    std::string optionsPath;
    std::vector<std::string> files;
};

// What one successful read found.
struct InfoReport {
    BitmapInfo info;
    PicOptions options;
    std::string comment;
};

int ParseInfoArguments(const std::vector<std::string>& arguments, InfoArguments& parsed)
{
    bool optionsEnded = false;
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            parsed.files.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--json") {
            parsed.json = true;
        } else if (argument == "--options") {
            if (index + 1 >= arguments.size())
                return UsageError("info", "--options needs a file");
            parsed.optionsPath = arguments[++index];
        } else {
            return UsageError("info", "unknown option '" + argument + "'");
        }
    }
    if (parsed.files.empty())
        return UsageError("info", "no file given");
    return kExitSuccess;
}

// Standard input, a pipe, a FIFO or a terminal gives its bytes once, but the
// file is read twice (the driver, then the comment): its header and the
// longest packet chain read go to a staging file, which both read. Null for
// anything that can be opened again.
std::unique_ptr<StagingFile> StageStream(const std::string& file)
{
    if (!IsStream(file))
        return nullptr;
    const bool standardInput = file == "-";
    if (standardInput)
        UseBinaryMode(stdin);
    FILE* input = standardInput ? stdin : std::fopen(file.c_str(), "rb");
    if (input == nullptr)
        return nullptr;
    uint8_t bytes[kPicHeaderSize + kMaxPicPackets * sizeof(PicChannelPacket)];
    const size_t got = std::fread(bytes, 1, sizeof bytes, input);
    if (!standardInput)
        std::fclose(input);
    auto staged = std::make_unique<StagingFile>();
    std::string error;
    return staged->Write(bytes, got, error) ? std::move(staged) : nullptr;
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
    std::printf("  compression  colour %s", report.options.rgbCompressed == 1 ? "RLE" : "raw");
    if (rgba)
        std::printf(", alpha %s", report.options.alphaCompressed == 1 ? "RLE" : "raw");
    std::printf("\n  comment      %s\n", Printable(report.comment).c_str());
}

void PrintJson(const std::string& file, BMMRES result, const std::string& error,
               const InfoReport* report)
{
    JsonObject object;
    object.AddText("file", file);
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
constexpr int kSaysWhy = -3; // `report.comment` says why (a name too long, a failed read)

// Reads one file through a fresh driver and returns the driver's result.
int ReadOne(const Plugin& plugin, const std::string& file, const OptionsBlock* optionsBlock,
            InfoReport& report)
{
    DriverPtr driver = plugin.NewDriver();
    if (!driver)
        return kNoDriver;
    if (optionsBlock != nullptr && !driver->LoadOptions(optionsBlock->bytes))
        return kOptionsRefused;
    const ShortName name(file);
    if (!name.Fits()) {
        report.comment = name.Why();
        return kSaysWhy;
    }
    report.info.SetName(name.Name().c_str());
    BMMClearReportedErrors();
    const BMMRES result = driver->ReadImageInfo(&report.info);
    if (result != kResultSuccess)
        return result;
    uint8_t block[kPicOptionsSize];
    if (driver->OptionsSize() != kPicOptionsSize || !driver->SaveOptions(block))
        return kNoDriver;
    std::memcpy(&report.options, block, sizeof block);
    std::string comment, error;
    if (!ReadPicHeaderComment(file, comment, error)) {
        report.comment = error;
        return kSaysWhy;
    }
    report.comment = comment;
    return result;
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
        const std::unique_ptr<StagingFile> staged = StageStream(file);
        const std::string& readName = staged ? staged->Path() : file;
        const int result = ReadOne(*plugin, readName,
                                   parsed.optionsPath.empty() ? nullptr : &optionsBlock, report);
        if (result == kNoDriver) {
            std::fprintf(stderr, "pictool: the plug-in made no working driver\n");
            return kExitFailure;
        }
        if (result == kOptionsRefused) {
            std::fprintf(stderr, "pictool: the driver refused the options block %s\n",
                         parsed.optionsPath.c_str());
            return kExitFailure;
        }
        std::string failure;
        if (result != kResultSuccess) {
            failure = result == kSaysWhy
                          ? report.comment
                          : DriverFailureText(readName, BMMRES(result), DriverTask::ReadInfo);
            std::fprintf(stderr, "pictool: %s: %s\n", file.c_str(), failure.c_str());
            status = kExitFailure;
        }
        if (parsed.json)
            PrintJson(file, result == kSaysWhy ? kResultSystemError : BMMRES(result), failure,
                      result == kResultSuccess ? &report : nullptr);
        else if (result == kResultSuccess)
            PrintPlain(file, report);
        FlushStandardOutput();
    }
    return status;
}

} // namespace

const PictoolCommand InfoCommand = {
    "info",
    "image information of PIC files, read by the plug-in",
    [] {
        return std::string(
            "Usage: pictool info [--json] [--options BLOCK] FILE...\n"
            "\n"
            "Reads each file's image information through a driver of the plug-in\n"
            "(its ReadImageInfo operation), one fresh driver per file. FILE may be '-'\n"
            "(standard input), a pipe or a FIFO, and a path of any length the system\n"
            "takes (the driver gets a shorter name for the same file).\n"
            "\n"
            "Options:\n"
            "  --json           JSON Lines: one JSON object per file, one per line, with\n"
            "                   the keys file, result, width, height, aspect, gamma,\n"
            "                   type, firstFrame, lastFrame, withAlpha, rgbCompressed,\n"
            "                   alphaCompressed and comment; for a file that cannot be\n"
            "                   read file, result (the driver's code) and error (words)\n"
            "  --options BLOCK  a saved 96-byte options block, given to each driver\n"
            "                   (LoadOptions) before it reads\n"
            "  --help, -h       this text\n"
            "  --               what follows is a file, even if it starts with '-'\n"
            "\n"
            "type is the host's image type: 6 = 32-bit RGBA, 8 = 24-bit RGB. withAlpha,\n"
            "rgbCompressed and alphaCompressed are the driver's options after the read\n"
            "(1 = set). The comment is the header's, up to its first zero byte. An\n"
            "aspect that is not a finite number above 0 is unknown: 'unknown' (null in\n"
            "JSON).\n"
            "\n"
            "Text in JSON is UTF-8 as it is; other bytes above 0x7F are \\u00XX.\n"
            "\n"
            "Exit status: 0 when every file was read, 1 when any was not (one line on\n"
            "stderr each, saying what is wrong with it), 2 for a usage error or an\n"
            "options block that cannot be used.\n");
    },
    RunInfo,
};

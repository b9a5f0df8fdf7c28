#include "tools/pictool/commands/convert_options.h"

#include <cstdio>
#include <cstring>

#include "engine/formats/format_table.h"
#include "engine/support/utf8_text.h"
#include "tools/pictool/commands/command.h"
#include "tools/pictool/support/options_file.h"

namespace {

// A name that holds %d, %Nd or %0Nd ('#' and '@' are plain characters
// without --frames).
bool LooksNumbered(std::string name)
{
    for (char& c : name)
        c = c == '#' || c == '@' ? '_' : c;
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

// The output's format, from --to or OUT's name.
int CheckDirection(ConvertRequest& request)
{
    ConvertJob& job = request.job;
    if (!request.to.empty()) {
        job.outputFormat = OutputFormatOfWord(request.to);
        if (job.outputFormat == nullptr)
            return UsageError("convert",
                              "--to takes " + OutputWords(false) + ", not '" + request.to + "'");
    } else if (request.output == "-") {
        return UsageError("convert", "writing to standard output needs --to " + OutputWords(false));
    } else {
        job.outputFormat = OutputFormatOfName(request.output);
        if (job.outputFormat == nullptr)
            return UsageError("convert",
                              "OUT must end in " + OutputWords(true) + " (or give --to)");
    }
    job.toPic = job.outputFormat == &PicFormat();
    if (request.hostPixels && !request.depth.empty())
        return UsageError("convert", "--host-pixels writes 16 bits: leave out --depth");
    job.write.depth = request.hostPixels      ? SampleDepth::HostPixels
                      : request.depth == "16" ? SampleDepth::Sixteen
                                              : SampleDepth::Eight;
    job.depthGiven = request.hostPixels || !request.depth.empty();
    return kExitSuccess;
}

// Sequence names, or single names.
int CheckSequence(ConvertRequest& request, size_t literalFrom)
{
    std::string error;
    if (!request.sequence) {
        // One file each. Before "--" a frame number is refused, lest a
        // pattern be taken for a file, and "%%" names a '%'; after it names
        // are taken as they are.
        for (size_t index = 0; index < 2 && index < literalFrom; ++index) {
            std::string& name = index == 0 ? request.input : request.output;
            if (LooksNumbered(name))
                return UsageError("convert", "'" + name +
                                                 "' numbers frames: give --frames LIST, or "
                                                 "write %% for a '%' in a name");
            name = PercentsUndoubled(name);
        }
        return kExitSuccess;
    }
    if (request.input == "-" || request.output == "-")
        return UsageError("convert", "a sequence cannot use standard input or output");
    if (!ParseFramePattern(request.input, request.inputPattern, error))
        return UsageError("convert", error);
    if (request.output.find_first_of("%#@") != std::string::npos || !request.job.toPic) {
        if (!ParseFramePattern(request.output, request.outputPattern, error))
            return UsageError("convert", error);
        request.outputNumbered = true;
    }
    return kExitSuccess;
}

// Cuts the comment to what the header keeps, between characters, and says
// so on stderr.
void FitComment(ConvertJob& job)
{
    const std::string given = job.comment;
    if (!FitUserComment(job.comment))
        return;
    std::fprintf(stderr,
                 "pictool: warning: --comment is %zu bytes; the header keeps %zu after the "
                 "driver's prefix: kept the first %zu bytes (%zu of %zu characters)\n",
                 given.size(), kCommentRoom, job.comment.size(),
                 Utf8CharacterCount(given, job.comment.size()),
                 Utf8CharacterCount(given, given.size()));
}

int ReadOptionsBlock(ConvertRequest& request)
{
    if (request.optionsPath.empty())
        return kExitSuccess;
    OptionsBlock block;
    std::string error;
    if (!ReadOptionsFile(request.optionsPath, block, error))
        return UsageError("convert", error);
    static_assert(sizeof block.bytes == sizeof request.job.optionsBlock, "a 96-byte block");
    std::memcpy(&request.job.optionsBlock, block.bytes, sizeof block.bytes);
    request.job.haveOptionsBlock = true;
    request.job.optionsBlockName = request.optionsPath;
    return kExitSuccess;
}

} // namespace

const std::vector<OptionRow<ConvertRequest>>& ConvertOptions()
{
    static const std::vector<OptionRow<ConvertRequest>> rows = ConvertOptionRows();
    return rows;
}

int ParseConvertArguments(const std::vector<std::string>& arguments, ConvertRequest& request)
{
    ParsedLine line;
    if (const int status = ParseOptions("convert", ConvertOptions(), arguments, request, line))
        return status;
    if (line.names.size() != 2)
        return UsageError("convert", "give one input and one output");
    request.input = line.names[0];
    request.output = line.names[1];
    if (const int status = CheckDirection(request))
        return status;
    if (const int status =
            CheckOptionScopes("convert", line, *request.job.outputFormat, request.job.toPic))
        return status;
    if (const int status = CheckSequence(request, line.literalFrom))
        return status;
    if (const int status = ReadOptionsBlock(request))
        return status;
    FitComment(request.job);
    return kExitSuccess;
}

std::string ConvertOptionsHelp(const char* section)
{
    std::vector<const OptionInfo*> rows;
    for (const OptionRow<ConvertRequest>& row : ConvertOptions())
        rows.push_back(&row.info);
    return OptionsHelp(rows, section);
}

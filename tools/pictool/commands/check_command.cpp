// pictool check: whether PIC files are whole, each read once through the
// format code alone (engine/convert/check_record.h): per file the size,
// the bits, the packets, and "ok" or the first row that is not whole, with
// where its data begins and what is wrong there; with --salvage, what rows
// after the damage could be found again.
#include <cstdio>
#include <string>
#include <vector>

#include "engine/convert/check_record.h"
#include "tools/pictool/commands/command.h"
#include "tools/pictool/commands/option_table.h"
#include "tools/pictool/support/standard_output.h"

namespace {

struct CheckRequest {
    bool json = false;
    bool salvage = false;
};

const std::vector<OptionRow<CheckRequest>>& CheckOptions()
{
    static const std::vector<OptionRow<CheckRequest>> rows = {
        {{"--json", 0, nullptr, OptionScope::Any, nullptr, "",
          "one JSON object per file, one per line: file, result\n(0; 13 for a bad header, no "
          "pixels or a read\nthat fails, 2 when it cannot be opened, 3 out of\nmemory: then "
          "only file, result and error, in\nwords), width, height, packets ([{\"type\": T,\n"
          "\"mask\": M}, ...]), bits (8 or 16 a channel),\nrowsComplete, damage (null or "
          "{\"row\": R,\n\"offset\": O, \"reason\": \"...\"}), trailingBytes, and\n"
          "with --salvage, salvage (null, or {\"lostRows\":\n[[first, last], ...], "
          "\"recoveredRows\": N}). File\nnames keep bytes that are not UTF-8 as \\udcXX, as\n"
          "Python's surrogateescape."},
         [](CheckRequest& request, const std::string&, std::string&) {
             request.json = true;
             return true;
         }},
        {{"--salvage", 0, nullptr, OptionScope::Any, nullptr, "",
          "after a run-length row that does not decode, look\nfor the rows after it: a start is "
          "taken where\nseveral rows in a row (or the rest of the file)\ndecode exactly. Says "
          "which rows are lost and how\nmany were found again. A salvaged file is still\n"
          "damaged: the exit status stays 1"},
         [](CheckRequest& request, const std::string&, std::string&) {
             request.salvage = true;
             return true;
         }},
        {{"--help", 'h', nullptr, OptionScope::Any, nullptr, "", "this text"}, nullptr},
        {{"--", 0, nullptr, OptionScope::Any, nullptr, "",
          "what follows are names, even if they start with '-'"},
         nullptr},
    };
    return rows;
}

std::string CheckHelp()
{
    std::vector<const OptionInfo*> rows;
    for (const OptionRow<CheckRequest>& row : CheckOptions())
        rows.push_back(&row.info);
    return "Usage: pictool check [--json] [--salvage] FILE...\n"
           "\n"
           "Reads each file once, its header, packets and rows (without the plug-in),\n"
           "and says whether every row is there and decodes. FILE may be '-' (standard\n"
           "input), a pipe or a FIFO. Per file, one line: the size, the bits a channel\n"
           "(8, or 16 when some packet stores 16), the packets (raw, pure or mixed\n"
           "run-length, and the channels R, G, B, A each carries, '16' after a 16-bit\n"
           "packet's), then 'ok' or the first row that is not whole, e.g.\n"
           "  shot0042.pic: 1920 x 1080, 8-bit, mixed RGB + mixed A: cut short in row 17\n"
           "  of 1080 (offset 48213)\n"
           "The offset is where that row's data begins in the file. Reasons: 'cut\n"
           "short' (the file ends inside the row), 'run past row end' (a run-length\n"
           "packet reaches past the row's last pixel), 'zero count' (a pure run-length\n"
           "count of 0). Bytes after the last row are counted but are no damage. A\n"
           "file that is not read says why, in the words of info and convert ('is a\n"
           "directory', 'file ends inside the header', 'not a PIC file (a PNG image)',\n"
           "'input/output error', 'no pixels: 480 x 0': a frame with no pixels is not\n"
           "whole). A count of whole files ends the output.\n"
           "\n"
           "Options:\n" +
           OptionsHelp(rows, "") +
           "\n"
           "Exit status: 0 every file is whole; 1 some file is damaged (salvaged or\n"
           "not) or cannot be read; 2 usage error.\n";
}

int RunCheck(PictoolContext&, const std::vector<std::string>& arguments)
{
    CheckRequest request;
    ParsedLine line;
    if (const int status = ParseOptions("check", CheckOptions(), arguments, request, line))
        return status;
    if (line.names.empty())
        return UsageError("check", "no file given");
    int whole = 0;
    for (const std::string& name : line.names) {
        const PicCheck check = CheckPicFile(name, request.salvage);
        const std::string text =
            request.json ? CheckJsonLine(name, check) : CheckTextLine(name, check);
        std::printf("%s\n", text.c_str());
        FlushStandardOutput();
        whole += check.Whole() ? 1 : 0;
    }
    const int total = int(line.names.size());
    if (!request.json)
        std::printf("%d of %d file%s whole\n", whole, total, total == 1 ? "" : "s");
    return whole == total ? kExitSuccess : kExitFailure;
}

} // namespace

const PictoolCommand CheckCommand = {
    "check",
    "whether PIC files are whole, and where the first damaged row is",
    CheckHelp,
    RunCheck,
};

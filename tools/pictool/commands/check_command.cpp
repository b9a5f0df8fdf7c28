// pictool check: whether PIC files are whole, read through the format code
// alone. Per file the header facts, the packets, and "ok" or the first row
// that is not whole, with where its data begins and what is wrong there.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "pic/pic_image.h"
#include "tools/pictool/commands/command.h"
#include "tools/pictool/convert/failure_text.h"
#include "tools/pictool/formats/image_input.h"
#include "tools/pictool/support/json_writer.h"
#include "tools/pictool/support/standard_output.h"

namespace {

// A file's facts, its rows checked: "-" is standard input.
PicImageFacts CheckFile(const std::string& name)
{
    try {
        if (name != "-")
            return ReadPicImageFile(name.c_str(), false).facts;
        UseBinaryMode(stdin);
        PicByteSource source(stdin);
        return ReadPicImage(source, false).facts;
    } catch (const std::bad_alloc&) {
        PicImageFacts facts;
        facts.status = PicImageStatus::NoMemory;
        return facts;
    }
}

// The result code of --json: the driver's codes for the same failures.
BMMRES ResultOf(const PicImageFacts& facts)
{
    switch (facts.status) {
    case PicImageStatus::Ok:
        return kResultSuccess;
    case PicImageStatus::CannotOpen:
        return kResultSystemError;
    case PicImageStatus::NoMemory:
        return kResultNoMemory;
    default:
        return kResultBadHeader;
    }
}

void PrintJson(const std::string& name, const PicImageFacts& facts)
{
    JsonObject object;
    object.AddText("file", name);
    object.AddInteger("result", ResultOf(facts));
    if (facts.status != PicImageStatus::Ok) {
        object.AddText("error", PicFactsFailureText(name, facts));
    } else {
        object.AddInteger("width", facts.width);
        object.AddInteger("height", facts.height);
        std::string packets = "[";
        for (const PicChannelPacket& packet : facts.packets) {
            JsonObject item;
            item.AddInteger("type", packet.type);
            item.AddInteger("mask", packet.channel);
            packets += (packets.size() > 1 ? "," : "") + item.Text();
        }
        object.AddJson("packets", packets + "]");
        object.AddInteger("rowsComplete", facts.rows.rowsComplete);
        object.AddJson("damage", PicDamageJson(facts));
        object.AddInteger("trailingBytes", static_cast<long long>(facts.rows.trailingBytes));
    }
    std::printf("%s\n", object.Text().c_str());
}

void PrintPlain(const std::string& name, const PicImageFacts& facts)
{
    if (facts.status != PicImageStatus::Ok) {
        std::printf("%s: %s\n", name.c_str(), PicFactsFailureText(name, facts).c_str());
        return;
    }
    const std::string verdict = facts.rows.damaged ? PicDamageText(facts) : "ok";
    std::printf("%s: %u x %u, %s: %s", name.c_str(), unsigned(facts.width), unsigned(facts.height),
                PicPacketsText(facts.packets).c_str(), verdict.c_str());
    if (facts.rows.trailingBytes != 0)
        std::printf(" (%s bytes after the last row)",
                    std::to_string(facts.rows.trailingBytes).c_str());
    std::printf("\n");
}

int RunCheck(PictoolContext&, const std::vector<std::string>& arguments)
{
    bool json = false;
    bool optionsEnded = false;
    std::vector<std::string> files;
    for (const std::string& argument : arguments) {
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-")
            files.push_back(argument);
        else if (argument == "--")
            optionsEnded = true;
        else if (argument == "--json")
            json = true;
        else
            return UsageError("check", "unknown option '" + argument + "'");
    }
    if (files.empty())
        return UsageError("check", "no file given");

    int whole = 0;
    for (const std::string& name : files) {
        const PicImageFacts facts = CheckFile(name);
        if (json)
            PrintJson(name, facts);
        else
            PrintPlain(name, facts);
        FlushStandardOutput();
        whole += facts.Whole() ? 1 : 0;
    }
    const int total = int(files.size());
    if (!json)
        std::printf("%d of %d file%s whole\n", whole, total, total == 1 ? "" : "s");
    return whole == total ? kExitSuccess : kExitFailure;
}

} // namespace

const PictoolCommand CheckCommand = {
    "check",
    "whether PIC files are whole, and where the first damaged row is",
    [] {
        return std::string(
            "Usage: pictool check [--json] FILE...\n"
            "\n"
            "Reads each file's header, packets and rows (without the plug-in) and says\n"
            "whether every row is there and decodes. FILE may be '-' (standard input),\n"
            "a pipe or a FIFO. Per file, one line: the size, the packets (raw, pure or\n"
            "mixed run-length, and the channels R, G, B, A each carries), then 'ok' or\n"
            "the first row that is not whole, e.g.\n"
            "  shot0042.pic: 1920 x 1080, mixed RGB + mixed A: cut short in row 17 of 1080 (offset "
            "48213)\n"
            "The offset is where that row's data begins in the file. Reasons: 'cut\n"
            "short' (the file ends inside the row), 'run past row end' (a run-length\n"
            "packet reaches past the row's last pixel), 'zero count' (a pure run-length\n"
            "count of 0). Bytes after the last row are counted but are no damage. A\n"
            "file that is not read says why, in the words of info and convert ('is a\n"
            "directory', 'file ends inside the header', 'not a PIC file (a PNG image)',\n"
            "'no pixels: 480 x 0': a frame with no pixels is not whole). A count of\n"
            "whole files ends the output.\n"
            "\n"
            "  --json   one JSON object per file, one per line: file, result (0; 13 for\n"
            "           a bad header or no pixels, 2 when it cannot be opened, 3 out of\n"
            "           memory: then only file, result and error, in words), width,\n"
            "           height, packets ([{\"type\": T, \"mask\": M}, ...]), rowsComplete,\n"
            "           damage (null or {\"row\": R, \"offset\": O, \"reason\": \"...\"}),\n"
            "           trailingBytes\n"
            "  --help, -h  this text\n"
            "  --       what follows are names, even if they start with '-'\n"
            "\n"
            "Exit status: 0 every file is whole; 1 some file is damaged or cannot be\n"
            "read; 2 usage error.\n");
    },
    RunCheck,
};

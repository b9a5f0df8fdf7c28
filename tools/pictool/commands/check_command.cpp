// pictool check: whether PIC files are whole, read through the format code
// alone. Per file the header facts, the packets, and "ok" or the first row
// that is not whole, with where its data begins and what is wrong there.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "tools/pictool/commands/command.h"
#include "tools/pictool/formats/pic_check.h"
#include "tools/pictool/support/json_writer.h"

namespace {

const char* TypeName(uint8_t type)
{
    return type == kPacketRaw ? "raw" : type == kPacketPureRunLength ? "pure" : "mixed";
}

std::string ChannelNames(uint8_t mask)
{
    std::string names;
    const char* const letters = "RGBA";
    for (int channel = 0; channel < 4; ++channel)
        if ((mask & (0x80 >> channel)) != 0)
            names += letters[channel];
    return names;
}

void PrintJson(const std::string& name, const PicFileCheck& check)
{
    JsonObject object;
    object.AddText("file", name);
    object.AddInteger("result", check.result);
    if (check.result == kResultSuccess) {
        object.AddInteger("width", check.width);
        object.AddInteger("height", check.height);
        std::string packets = "[";
        for (const PicChannelPacket& packet : check.packets) {
            JsonObject item;
            item.AddInteger("type", packet.type);
            item.AddInteger("mask", packet.channel);
            packets += (packets.size() > 1 ? "," : "") + item.Text();
        }
        object.AddJson("packets", packets + "]");
        object.AddInteger("rowsComplete", check.rows.rowsComplete);
        object.AddJson("damage", DamageJson(check));
        object.AddInteger("trailingBytes", static_cast<long long>(check.rows.trailingBytes));
    }
    std::printf("%s\n", object.Text().c_str());
}

void PrintPlain(const std::string& name, const PicFileCheck& check)
{
    if (check.result == kResultSystemError) {
        std::printf("%s: cannot open: %s\n", name.c_str(), check.openError.c_str());
        return;
    }
    if (check.result == kResultNoMemory) {
        std::printf("%s: out of memory\n", name.c_str());
        return;
    }
    if (check.result != kResultSuccess) {
        std::printf("%s: not a PIC file we read (bad header)\n", name.c_str());
        return;
    }
    std::string packets;
    for (const PicChannelPacket& packet : check.packets)
        packets += (packets.empty() ? "" : " + ") + std::string(TypeName(packet.type)) + " " +
                   ChannelNames(packet.channel);
    const std::string verdict = check.rows.damaged ? DamageText(check) : "ok";
    std::printf("%s: %u x %u, %s: %s", name.c_str(), unsigned(check.width), unsigned(check.height),
                packets.c_str(), verdict.c_str());
    if (check.rows.trailingBytes != 0)
        std::printf(" (%s bytes after the last row)",
                    std::to_string(check.rows.trailingBytes).c_str());
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
        PicFileCheck check;
        try {
            check = CheckPicFile(name);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "pictool: %s: out of memory\n", name.c_str());
            check.result = kResultNoMemory;
        }
        if (json)
            PrintJson(name, check);
        else
            PrintPlain(name, check);
        std::fflush(stdout);
        whole += check.Whole() ? 1 : 0;
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
            "whether every row is there and decodes. Per file, one line: the size, the\n"
            "packets (raw, pure or mixed run-length, and the channels R, G, B, A each\n"
            "carries), then 'ok' or the first row that is not whole, e.g.\n"
            "  shot0042.pic: 1920 x 1080, mixed RGB + mixed A: cut short in row 17 of 1080 (offset "
            "48213)\n"
            "The offset is where that row's data begins in the file. Reasons: 'cut\n"
            "short' (the file ends inside the row), 'run past row end' (a run-length\n"
            "packet reaches past the row's last pixel), 'zero count' (a pure run-length\n"
            "count of 0). Bytes after the last row are counted but are no damage. A\n"
            "count of whole files ends the output.\n"
            "\n"
            "  --json   one JSON object per file, one per line: file, result (0; 13 for\n"
            "           a bad header, 2 when it cannot be opened; a bad header or a\n"
            "           file that cannot be opened gives only file and result), width,\n"
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

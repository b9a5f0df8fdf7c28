// `pictool dialog options|info FILE|about`: opens the plug-in's dialogs
// through a driver's operation table, as the host does, so that a person can
// try them (on Windows, or under Wine with a display). Where no window system
// exists the operations answer as for a dialog that cannot be created.
#include <cstdio>
#include <string>
#include <vector>

#include "driver/pic_options.h"
#include "tools/pictool/commands/command.h"
#include "tools/pictool/support/options_file.h"

namespace {

// Where the plug-in's dialogs have no window system to appear on (every
// build but Windows), each operation answers at once; pictool then says
// that no dialog was shown and what the operation answered.
#if defined(PICTOOL_NO_WINDOW_SYSTEM)
constexpr bool kWindowSystem = false;
#else
constexpr bool kWindowSystem = true;
#endif
constexpr char kNoDialogShown[] = "no window system, so no dialog was shown";

struct DialogArguments {
    std::string which; // options, info or about
    std::string file;  // info's file
    std::string optionsPath;
    std::string saveOptionsPath;
};

int ParseDialogArguments(const std::vector<std::string>& arguments, DialogArguments& parsed)
{
    std::vector<std::string> words;
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--options" || argument == "--save-options") {
            if (index + 1 >= arguments.size())
                return UsageError("dialog", argument + " needs a file");
            (argument == "--options" ? parsed.optionsPath : parsed.saveOptionsPath) =
                arguments[++index];
        } else if (argument.size() > 1 && argument[0] == '-') {
            return UsageError("dialog", "unknown option '" + argument + "'");
        } else {
            words.push_back(argument);
        }
    }
    if (words.empty())
        return UsageError("dialog", "say which dialog: options, info FILE or about");
    parsed.which = words[0];
    const size_t wanted = parsed.which == "info" ? 2 : 1;
    if (parsed.which != "options" && parsed.which != "info" && parsed.which != "about")
        return UsageError("dialog", "no dialog named '" + parsed.which + "'");
    if (words.size() != wanted)
        return UsageError("dialog", parsed.which == "info" ? "info takes one file"
                                                           : parsed.which + " takes no file");
    if (wanted == 2)
        parsed.file = words[1];
    if (!parsed.saveOptionsPath.empty() && parsed.which != "options")
        return UsageError("dialog", "--save-options goes with the options dialog");
    return kExitSuccess;
}

int SaveOptionsFile(BitmapIO& driver, const std::string& path)
{
    uint8_t block[kPicOptionsSize];
    if (driver.OptionsSize() != kPicOptionsSize || !driver.SaveOptions(block)) {
        std::fprintf(stderr, "pictool: the driver hands out no options block\n");
        return kExitFailure;
    }
    std::string error;
    if (!WriteOptionsFile(block, path, error)) {
        std::fprintf(stderr, "pictool: %s: %s\n", path.c_str(), error.c_str());
        return kExitFailure;
    }
    return kExitSuccess;
}

void PrintOptions(BitmapIO& driver)
{
    PicOptions options;
    if (!driver.SaveOptions(&options))
        return;
    // A loaded comment need not hold a zero byte: never print past the field.
    const int length = int(PicCommentLength(options.comment));
    std::printf("options: %s, %s, comment \"%.*s\"\n",
                options.withAlpha == 1 ? "32 bits (RGBA)" : "24 bits (RGB)",
                options.rgbCompressed == 1 ? "compressed" : "raw", length, options.comment);
}

int ShowDialog(BitmapIO& driver, const DialogArguments& parsed)
{
    if (parsed.which == "about") {
        const int result = driver.ShowAbout(nullptr);
        if (result == -1) {
            if (kWindowSystem)
                std::fprintf(stderr, "pictool: the About box could not be shown\n");
            else
                std::fprintf(stderr, "pictool: %s: ShowAbout answered -1 (cannot be shown)\n",
                             kNoDialogShown);
            return kExitFailure;
        }
        std::printf("About box closed (%d)\n", result);
        return kExitSuccess;
    }
    if (parsed.which == "info") {
        BitmapInfo info;
        const BMMRES result = driver.ShowImageInfo(nullptr, &info, parsed.file.c_str());
        if (result != kResultSuccess) {
            std::fprintf(stderr, "pictool: %s: cannot read image information (result %d)\n",
                         parsed.file.c_str(), result);
            return kExitFailure;
        }
        if (kWindowSystem)
            std::printf("image information read; dialog closed\n");
        else
            std::printf("%s: ShowImageInfo read %s's header and answered 0 (success)\n",
                        kNoDialogShown, parsed.file.c_str());
        return kExitSuccess;
    }
    // Cancelled and "could not be shown" look the same through the table.
    const int accepted = driver.ShowOptions(nullptr, 0);
    if (!kWindowSystem)
        std::printf("%s: ShowOptions answered %d, the options unchanged\n", kNoDialogShown,
                    accepted);
    else
        std::printf("%s\n", accepted == 1 ? "options accepted"
                                          : "options not accepted (cancelled, or no dialog)");
    PrintOptions(driver);
    return parsed.saveOptionsPath.empty() ? kExitSuccess
                                          : SaveOptionsFile(driver, parsed.saveOptionsPath);
}

int RunDialog(PictoolContext& context, const std::vector<std::string>& arguments)
{
    DialogArguments parsed;
    if (const int status = ParseDialogArguments(arguments, parsed))
        return status;
    OptionsBlock optionsBlock;
    std::string error;
    if (!parsed.optionsPath.empty() && !ReadOptionsFile(parsed.optionsPath, optionsBlock, error))
        return UsageError("dialog", error);
    const Plugin* plugin = context.LoadedPlugin();
    if (plugin == nullptr)
        return kExitFailure;
    DriverPtr driver = plugin->NewDriver();
    if (!driver) {
        std::fprintf(stderr, "pictool: the plug-in made no driver\n");
        return kExitFailure;
    }
    if (!parsed.optionsPath.empty() && !driver->LoadOptions(optionsBlock.bytes)) {
        std::fprintf(stderr, "pictool: the driver refused the options block %s\n",
                     parsed.optionsPath.c_str());
        return kExitFailure;
    }
    return ShowDialog(*driver, parsed);
}

} // namespace

const PictoolCommand DialogCommand = {
    "dialog",
    "open the options, image information or About dialog",
    [] {
        return std::string(
            "Usage: pictool dialog options [--options FILE] [--save-options FILE]\n"
            "       pictool dialog info FILE [--options FILE]\n"
            "       pictool dialog about\n"
            "\n"
            "Opens one of the plug-in's modal dialogs through a new driver, as the host\n"
            "does, and waits until it is closed. Needs a window system: on Windows, or\n"
            "under Wine with a display. Elsewhere (this pictool on Linux) the driver\n"
            "answers at once, as for a dialog that cannot be created, and pictool says\n"
            "that no dialog was shown and what the operation answered.\n"
            "\n"
            "  options  24 or 32 bits, compression and the comment; prints the driver's\n"
            "           options afterwards, changed only when OK was pressed\n"
            "  info     reads FILE's header with the driver and shows what it holds\n"
            "  about    the plug-in's About box\n"
            "\n"
            "Options:\n"
            "  --options FILE       load a saved 96-byte options block into the driver first\n"
            "  --save-options FILE  write the driver's options block after the options dialog\n"
            "\n"
            "Exit status: 0; 1 when the plug-in cannot be loaded, a file cannot be read or\n"
            "written, or the About box cannot be shown; 2 for a usage error.\n");
    },
    RunDialog,
};

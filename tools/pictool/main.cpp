// pictool: a command-line host for PIC.BMI. It loads the plug-in as the host
// application does and does all PIC work through drivers the plug-in makes.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "output/interrupts.h"
#include "tools/pictool/commands/command.h"
#include "tools/pictool/support/standard_output.h"

// Every command, once. A new command is a file of its own and a line here.
static const PictoolCommand* const kCommands[] = {
    &InfoCommand, &ConvertCommand, &AboutCommand, &DialogCommand, &CheckCommand,
};

static const PictoolCommand* FindCommand(const std::string& name)
{
    for (const PictoolCommand* command : kCommands)
        if (name == command->name)
            return command;
    return nullptr;
}

static void PrintOverview(FILE* out)
{
    std::fprintf(out, "Usage: pictool [--plugin PATH] COMMAND [ARGUMENTS...]\n"
                      "\n"
                      "A command-line host for the Softimage PIC driver plug-in PIC.BMI.\n"
                      "\n"
                      "Commands:\n");
    for (const PictoolCommand* command : kCommands)
        std::fprintf(out, "  %-9s %s\n", command->name, command->summary);
    std::fprintf(out,
                 "  %-9s %s\n"
                 "\n"
                 "Options (anywhere before a '--'):\n"
                 "  --plugin PATH  load the plug-in from PATH instead of PIC.BMI beside pictool\n"
                 "                 (or, installed, in ../lib/pictool from pictool's folder)\n"
                 "  --help, -h     this text; 'pictool COMMAND --help' describes a command\n"
                 "  --version, -V  pictool's version\n"
                 "\n"
                 "Exit status: 0 success, 1 failure (one line per failure on stderr, a\n"
                 "standard output that cannot be written among them), 2 usage error.\n",
                 "help", "this text, or 'pictool help COMMAND' for one command");
}

static bool IsHelpOption(const std::string& argument)
{
    return argument == "--help" || argument == "-h";
}

static const char kHelpHelp[] =
    "Usage: pictool help [COMMAND]\n"
    "\n"
    "Without COMMAND, lists every command and the options all commands take.\n"
    "With one, prints that command's usage and options, as\n"
    "'pictool COMMAND --help' does.\n";

static int RunHelp(const std::vector<std::string>& arguments)
{
    if (arguments.empty()) {
        PrintOverview(stdout);
        return kExitSuccess;
    }
    const std::string& name = arguments[0];
    const PictoolCommand* command = FindCommand(name);
    const bool aboutHelp = name == "help" || IsHelpOption(name);
    if (arguments.size() > 1 || (command == nullptr && !aboutHelp))
        return UsageError("help", "no command named '" + name + "'");
    std::fputs(command != nullptr ? command->help().c_str() : kHelpHelp, stdout);
    return kExitSuccess;
}

// Takes --plugin PATH (or --plugin=PATH) out of the arguments, up to a "--".
// Returns 0 when the option lacks its path.
static int TakePluginOption(std::vector<std::string>& arguments, std::string& pluginPath)
{
    for (size_t index = 0; index < arguments.size() && arguments[index] != "--";) {
        const std::string& argument = arguments[index];
        if (argument == "--plugin") {
            if (index + 1 >= arguments.size())
                return 0;
            pluginPath = arguments[index + 1];
            arguments.erase(arguments.begin() + long(index), arguments.begin() + long(index) + 2);
        } else if (argument.compare(0, 9, "--plugin=") == 0) {
            pluginPath = argument.substr(9);
            arguments.erase(arguments.begin() + long(index));
        } else {
            ++index;
        }
    }
    return pluginPath.empty() ? 0 : 1;
}

static int Usage(const char* message)
{
    std::fprintf(stderr, "pictool: %s (see 'pictool --help')\n", message);
    return kExitUsage;
}

static int RunPictool(int argc, char** argv)
{
    // An interrupted conversion leaves no unfinished file behind.
    RemoveTemporaryFilesOnInterrupt();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string pluginPath = DefaultPluginPath();
    if (!TakePluginOption(arguments, pluginPath))
        return Usage("--plugin needs a path");
    if (arguments.empty())
        return Usage("no command given");

    const std::string name = arguments[0];
    arguments.erase(arguments.begin());
    if (IsHelpOption(name))
        return RunHelp({});
    if (name == "--version" || name == "-V") {
        std::printf("pictool %s\n", PICTOOL_VERSION);
        return kExitSuccess;
    }
    if (name == "help")
        return RunHelp(arguments);
    const PictoolCommand* command = FindCommand(name);
    if (command == nullptr)
        return Usage(("unknown command '" + name + "'").c_str());
    for (const std::string& argument : arguments) {
        if (argument == "--")
            break;
        if (IsHelpOption(argument)) {
            std::fputs(command->help().c_str(), stdout);
            return kExitSuccess;
        }
    }
    PictoolContext context(pluginPath);
    return command->run(context, arguments);
}

int main(int argc, char** argv)
{
    // Memory that runs out anywhere ends the command with a failure, after
    // the unwinding has removed any unfinished output.
    int status = kExitFailure;
    try {
        status = RunPictool(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("pictool: out of memory\n", stderr);
    }
    return FinishStandardOutput(status);
}

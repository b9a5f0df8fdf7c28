// What every pictool command looks like to main: a name, a line for the
// command list, its full help, and the function that runs it. Each command
// lives in its own file and is listed once in main's table.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/pictool/support/plugin_host.h"

// Exit statuses shared by every command.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1; // some work failed; stderr says what
constexpr int kExitUsage = 2;   // the command line is wrong

// What a command gets besides its arguments.
class PictoolContext {
public:
    explicit PictoolContext(std::string path) : pluginPath(std::move(path)) {}

    // The plug-in, loaded on first use; null after a one-line message on
    // stderr when it cannot be loaded or is not a PIC driver.
    Plugin* LoadedPlugin();

private:
    std::string pluginPath;
    std::unique_ptr<Plugin> plugin;
};

struct PictoolCommand {
    const char* name;
    const char* summary;   // one line for the command list
    std::string (*help)(); // usage and every option, for `pictool COMMAND --help`
    // Runs with the arguments after the command's name (--plugin already
    // taken out); returns the exit status.
    int (*run)(PictoolContext& context, const std::vector<std::string>& arguments);
};

// Prints "pictool: COMMAND: MESSAGE" and a pointer to the help on stderr;
// returns kExitUsage.
int UsageError(const char* command, const std::string& message);

extern const PictoolCommand InfoCommand;
extern const PictoolCommand AboutCommand;
extern const PictoolCommand ConvertCommand;
extern const PictoolCommand DialogCommand;
extern const PictoolCommand CheckCommand;

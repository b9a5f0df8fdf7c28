#include "tools/pictool/commands/command.h"

#include <cstdio>

Plugin* PictoolContext::LoadedPlugin()
{
    if (plugin)
        return plugin.get();
    std::string error;
    plugin = LoadPlugin(pluginPath, error);
    if (!plugin)
        std::fprintf(stderr, "pictool: %s\n", error.c_str());
    return plugin.get();
}

int UsageError(const char* command, const std::string& message)
{
    std::fprintf(stderr, "pictool: %s: %s (see 'pictool %s --help')\n", command, message.c_str(),
                 command);
    return kExitUsage;
}

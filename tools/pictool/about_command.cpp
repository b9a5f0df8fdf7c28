// pictool about: what the plug-in says of itself, through its exports, its
// class descriptor and a driver's identity operations.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/pictool/command.h"

namespace {

void PrintDriverIdentity(BitmapIO& driver)
{
    std::printf("driver        %s (%s), version %u\n", driver.LongDescription(),
                driver.ShortDescription(), driver.VersionNumber());
    std::printf("author        %s\n", driver.Author());
    std::printf("copyright     %s\n", driver.CopyrightNotice());
    std::printf("capabilities  0x%08X\n", unsigned(driver.Capabilities()));
    std::printf("extensions   ");
    const int count = driver.ExtensionCount();
    for (int index = 0; index < count; ++index)
        std::printf(" %s", driver.Extension(index));
    std::printf("\n");
}

int RunAbout(PictoolContext& context, const std::vector<std::string>& arguments)
{
    if (!arguments.empty())
        return UsageError("about", "takes no arguments");
    const Plugin* plugin = context.LoadedPlugin();
    if (plugin == nullptr)
        return kExitFailure;
    ClassDesc* descriptor = plugin->Descriptor();
    const ClassId id = descriptor->ClassIdentifier();
    std::printf("plug-in       %s\n", plugin->Path().c_str());
    std::printf("description   %s\n", plugin->Description());
    std::printf("interface     0x%08X\n", unsigned(plugin->Version()));
    std::printf("classes       %d\n", plugin->ClassCount());
    std::printf("class         %s\n", descriptor->ClassDisplayName());
    std::printf("category      %s\n", descriptor->CategoryName());
    std::printf("class id      0x%08X 0x%08X\n", unsigned(id.first), unsigned(id.second));
    std::printf("superclass    0x%X\n", unsigned(descriptor->SuperclassCode()));
    DriverPtr driver = plugin->NewDriver();
    if (!driver) {
        std::fprintf(stderr, "pictool: the plug-in made no driver\n");
        return kExitFailure;
    }
    PrintDriverIdentity(*driver);
    return kExitSuccess;
}

} // namespace

const PictoolCommand AboutCommand = {
    "about",
    "what the plug-in says of itself",
    "Usage: pictool about\n"
    "\n"
    "Loads the plug-in and prints its description, interface version, class\n"
    "name, category, class identifier and superclass code, then a driver's\n"
    "descriptions, version, author, copyright, capability word and file\n"
    "extensions.\n"
    "\n"
    "Exit status: 0, or 1 when the plug-in cannot be loaded.\n",
    RunAbout,
};

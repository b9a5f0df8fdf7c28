// pictool about: what the plug-in says of itself, through its exports, its
// class descriptor and a driver's identity operations.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/pictool/commands/command.h"

namespace {

// The capability word's set bits in words: "bits 0, 1, 2, 9 and 30 set". The
// driver hands the word to the host unchanged and the bits mean what the
// host makes of them, so they are told by number, not given names here.
std::string CapabilityWords(unsigned capabilities)
{
    std::vector<std::string> bits;
    for (unsigned bit = 0; bit < 32; ++bit)
        if (capabilities & (1u << bit))
            bits.push_back(std::to_string(bit));
    if (bits.empty())
        return "(no bits set)";
    std::string words = bits.size() == 1 ? "(bit " : "(bits ";
    for (size_t index = 0; index < bits.size(); ++index)
        words += (index == 0 ? "" : index + 1 == bits.size() ? " and " : ", ") + bits[index];
    return words + " set)";
}

void PrintDriverIdentity(BitmapIO& driver)
{
    std::printf("driver        %s (%s), version %u\n", driver.LongDescription(),
                driver.ShortDescription(), driver.VersionNumber());
    std::printf("author        %s\n", driver.Author());
    std::printf("copyright     %s\n", driver.CopyrightNotice());
    const unsigned capabilities = unsigned(driver.Capabilities());
    std::printf("capabilities  0x%08X %s\n", capabilities, CapabilityWords(capabilities).c_str());
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
    [] {
        return std::string(
            "Usage: pictool about\n"
            "\n"
            "Loads the plug-in and prints its description, interface version, class\n"
            "name, category, class identifier and superclass code, then a driver's\n"
            "descriptions, version, author, copyright, capability word and file\n"
            "extensions.\n"
            "\n"
            "Exit status: 0, or 1 when the plug-in cannot be loaded.\n");
    },
    RunAbout,
};

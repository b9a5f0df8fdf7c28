#include "tools/pictool/support/plugin_host.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

static std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(value));
    return text;
}

// The checks a host makes before it trusts a module's class: the right
// interface version, at least one class, and that class a PIC image driver.
static bool CheckPlugin(Plugin& plugin, std::string& error)
{
    if (plugin.Version() != kPluginInterfaceVersion) {
        error = "plug-in interface version " + Hex(plugin.Version()) + ", expected " +
                Hex(kPluginInterfaceVersion);
        return false;
    }
    if (plugin.ClassCount() < 1 || plugin.Descriptor() == nullptr) {
        error = "the plug-in offers no class";
        return false;
    }
    ClassDesc* descriptor = plugin.Descriptor();
    if (descriptor->SuperclassCode() != kSuperclassBitmapIO) {
        error = "its class is not an image-file driver (superclass " +
                Hex(uint32_t(descriptor->SuperclassCode())) + ")";
        return false;
    }
    const ClassId id = descriptor->ClassIdentifier();
    if (id != kPicDriverClassId) {
        error =
            "its class is not the PIC driver (class " + Hex(id.first) + ", " + Hex(id.second) + ")";
        return false;
    }
    return true;
}

std::unique_ptr<Plugin> LoadPlugin(const std::string& path, std::string& error)
{
    std::string reason;
    std::unique_ptr<DynamicLibrary> library = DynamicLibrary::Open(path, reason);
    if (!library) {
        error = "cannot load plug-in " + path + ": " + reason;
        return nullptr;
    }
    const auto version = library->Find<LibVersionFunction>("LibVersion");
    const auto description = library->Find<LibDescriptionFunction>("LibDescription");
    const auto classCount = library->Find<LibNumberClassesFunction>("LibNumberClasses");
    const auto classDesc = library->Find<LibClassDescFunction>("LibClassDesc");
    if (version == nullptr || description == nullptr || classCount == nullptr ||
        classDesc == nullptr) {
        error = path + " is not a host plug-in (it lacks the Lib* exports)";
        return nullptr;
    }

    std::unique_ptr<Plugin> plugin(new Plugin);
    plugin->path = path;
    plugin->version = version();
    plugin->classCount = classCount();
    plugin->descriptor = plugin->classCount >= 1 ? classDesc(0) : nullptr;
    const char* text = description();
    plugin->description = text != nullptr ? text : "";
    plugin->library = std::move(library);
    if (!CheckPlugin(*plugin, reason)) {
        error = path + " is not a PIC driver plug-in: " + reason;
        return nullptr;
    }
    return plugin;
}

DriverPtr Plugin::NewDriver() const
{
    return DriverPtr(static_cast<BitmapIO*>(descriptor->NewDriver(0)));
}

std::string DefaultPluginPath()
{
    const std::string folder = ExecutableDirectory();
    if (folder.empty())
        return "PIC.BMI";
    const char separator = PathSeparator();
    const std::string beside = folder + separator + "PIC.BMI";
    // Where `cmake --install` puts it: PREFIX/lib/pictool beside PREFIX/bin.
    const std::string installed = folder + separator + ".." + separator + "lib" + separator +
                                  "pictool" + separator + "PIC.BMI";
    std::error_code error;
    if (!std::filesystem::exists(beside, error) && std::filesystem::exists(installed, error))
        return installed;
    return beside;
}

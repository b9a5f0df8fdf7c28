// The host side of PIC.BMI: loads the module, checks that it answers as a
// PIC driver plug-in, and makes drivers through its class descriptor, as the
// host application does. Every command that touches PIC files goes through
// here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/bitmap_io.h"
#include "host/class_desc.h"
#include "tools/pictool/support/dynamic_library.h"

// The class pictool works with: Softimage PIC image-file drivers.
constexpr ClassId kPicDriverClassId = {0x5F865980, 0x67733FA6};

// A driver made by the plug-in. Deleting it calls its own destructor slot,
// so the module that made it also frees it.
using DriverPtr = BitmapIOPtr;

class Plugin {
public:
    // Drivers made by NewDriver must be gone before the plug-in is: their
    // code lives in it.
    ~Plugin() = default;

    const std::string& Path() const { return path; }
    const char* Description() const { return description; }
    uint32_t Version() const { return version; }
    int ClassCount() const { return classCount; }
    ClassDesc* Descriptor() const { return descriptor; }

    // A new driver with default options, or null when the plug-in cannot
    // make one (out of memory).
    DriverPtr NewDriver() const;

private:
    friend std::unique_ptr<Plugin> LoadPlugin(const std::string& path, std::string& error);
    Plugin() = default;

    std::unique_ptr<DynamicLibrary> library;
    std::string path;
    const char* description = "";
    uint32_t version = 0;
    int classCount = 0;
    ClassDesc* descriptor = nullptr;
};

// Loads the module at `path` and checks LibVersion, LibNumberClasses and the
// first class's superclass code and identifier. Null, with a one-line reason
// in `error`, when it cannot be loaded or is not a PIC driver plug-in.
std::unique_ptr<Plugin> LoadPlugin(const std::string& path, std::string& error);

// PIC.BMI beside the running executable, or else in ../lib/pictool from
// its folder, where an install puts it; the first when neither exists.
std::string DefaultPluginPath();

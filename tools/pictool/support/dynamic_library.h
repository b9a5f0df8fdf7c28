// A shared library loaded at run time: dlopen natively, LoadLibraryA on
// Windows, behind one small interface.
#pragma once

#include <memory>
#include <string>

class DynamicLibrary {
public:
    // The library at `path`, or null with the system's reason in `error`.
    static std::unique_ptr<DynamicLibrary> Open(const std::string& path, std::string& error);
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The address of the exported `name`, or null.
    void* Symbol(const char* name) const;

    template <typename Function> Function Find(const char* name) const
    {
        return reinterpret_cast<Function>(Symbol(name));
    }

private:
    explicit DynamicLibrary(void* opened) : handle(opened) {}
    void* handle;
};

// The folder that holds the running executable, without a trailing
// separator; empty when it cannot be found.
std::string ExecutableDirectory();

// The separator between a folder and a name on this system.
char PathSeparator();

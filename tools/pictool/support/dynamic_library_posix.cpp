#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <vector>

#include "tools/pictool/support/dynamic_library.h"

std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::string& path, std::string& error)
{
    // A name without a slash would be searched for on the library path;
    // we mean the file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "cannot be loaded";
        return nullptr;
    }
    return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary()
{
    dlclose(handle);
}

void* DynamicLibrary::Symbol(const char* name) const
{
    return dlsym(handle, name);
}

std::string ExecutableDirectory()
{
    std::vector<char> path(PATH_MAX + 1);
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0)
        return "";
    std::string full(path.data(), size_t(length));
    const size_t slash = full.rfind('/');
    return slash == std::string::npos ? "." : full.substr(0, slash == 0 ? 1 : slash);
}

char PathSeparator()
{
    return '/';
}

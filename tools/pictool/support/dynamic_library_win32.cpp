#include <windows.h>

#include <vector>

#include "tools/pictool/support/dynamic_library.h"

static std::string SystemErrorText(DWORD code)
{
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    // Some messages name their file as an insert we do not fill.
    const size_t insert = message.find(" for %1");
    if (insert != std::string::npos)
        message.erase(insert, 7);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' '))
        message.pop_back();
    if (message.empty())
        message = "system error " + std::to_string(code);
    return message;
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::string& path, std::string& error)
{
    // No "cannot load" message boxes from the system: the caller reports.
    // A bare name would be searched for in the system's folders; we mean
    // the file.
    const std::string file = path.find_first_of("\\/:") == std::string::npos ? ".\\" + path : path;
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(file.c_str());
    const DWORD code = GetLastError();
    SetErrorMode(previousMode);
    if (module == nullptr) {
        error = SystemErrorText(code);
        return nullptr;
    }
    return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(reinterpret_cast<void*>(module)));
}

DynamicLibrary::~DynamicLibrary()
{
    FreeLibrary(reinterpret_cast<HMODULE>(handle));
}

void* DynamicLibrary::Symbol(const char* name) const
{
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
}

std::string ExecutableDirectory()
{
    std::vector<char> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return "";
        if (length < path.size()) {
            std::string full(path.data(), length);
            const size_t slash = full.find_last_of("\\/");
            return slash == std::string::npos ? "." : full.substr(0, slash);
        }
        if (path.size() >= 32768)
            return "";
        path.resize(path.size() * 2);
    }
}

char PathSeparator()
{
    return '\\';
}

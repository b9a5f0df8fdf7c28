#include <windows.h>

#include <filesystem>

#include "tools/pictool/support/short_name.h"

const char* PathSeparators()
{
    return "\\/";
}

std::string ShortName::Shorten(const std::string& existing)
{
    // The 8.3 name, where the volume keeps them. Only the wide call reads a
    // long name (in its \\?\ form); the driver takes the narrow one.
    std::error_code status;
    std::string full = std::filesystem::absolute(existing, status).string();
    if (status)
        return "";
    for (char& c : full)
        c = c == '/' ? '\\' : c;
    if (full.rfind("\\\\?\\", 0) != 0)
        full = "\\\\?\\" + full;
    const int length = MultiByteToWideChar(CP_ACP, 0, full.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return "";
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, full.c_str(), -1, &wide[0], length);
    const DWORD size = GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (size == 0)
        return "";
    std::wstring shorter(size, L'\0');
    const DWORD got = GetShortPathNameW(wide.c_str(), &shorter[0], size);
    if (got == 0 || got >= size)
        return "";
    shorter.resize(got);
    if (shorter.rfind(L"\\\\?\\", 0) == 0)
        shorter.erase(0, 4);
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, shorter.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return "";
    std::string narrow(size_t(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, shorter.c_str(), -1, &narrow[0], bytes, nullptr, nullptr);
    narrow.resize(size_t(bytes) - 1);
    return narrow.size() < existing.size() ? narrow : "";
}

ShortName::~ShortName() = default;

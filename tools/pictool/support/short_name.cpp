#include "tools/pictool/support/short_name.h"

#include <cctype>
#include <cerrno>
#include <filesystem>

#include "engine/support/system_error_text.h"

std::string NameTooLongText()
{
    return "name longer than the host's " + std::to_string(kMaxPathLength - 1) + "-byte name field";
}

ShortName::ShortName(const std::string& file, Kind made) : path(file), name(file), kind(made)
{
    if (Fits())
        return;
    if (kind == Existing) {
        const std::string shorter = Shorten(path);
        if (!shorter.empty())
            name = shorter;
        return;
    }
    const size_t slash = path.find_last_of(PathSeparators());
    if (slash == std::string::npos || slash == 0)
        return;
    const std::string folder = Shorten(path.substr(0, slash));
    if (!folder.empty())
        name = folder + path.substr(slash);
}

std::string ShortName::Why() const
{
    std::error_code status;
    if (std::filesystem::exists(path, status))
        return NameTooLongText();
    if (status) { // the system's own limit, or worse
        std::string text = status.message();
        while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        if (!text.empty())
            text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
        return text;
    }
    const size_t slash = path.find_last_of(PathSeparators());
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    if (kind == ToMake && std::filesystem::is_directory(folder, status))
        return NameTooLongText();
    return SystemErrorText(ENOENT);
}

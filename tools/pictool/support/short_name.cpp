#include "tools/pictool/support/short_name.h"

#include <cerrno>
#include <filesystem>

#include "tools/pictool/support/system_error_text.h"

std::string NameTooLongText()
{
    return "name longer than the host's " + std::to_string(kMaxPathLength - 1) + "-byte name field";
}

std::string ShortName::Why() const
{
    std::error_code status;
    if (!std::filesystem::exists(path, status))
        return SystemErrorText(status ? status.value() : ENOENT);
    return NameTooLongText();
}

#include "engine/support/system_error_text.h"

#include <cctype>
#include <cstring>

std::string SystemErrorText(int number)
{
    std::string text = std::strerror(number);
    if (!text.empty())
        text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

#include "ui/text_format.h"

#include <cstdarg>
#include <cstdio>

std::string FormatText(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string text;
    if (length > 0) {
        // vsnprintf writes the terminator too: one byte more, then drop it.
        text.resize(size_t(length) + 1);
        std::vsnprintf(&text[0], text.size(), format, arguments);
        text.resize(size_t(length));
    }
    va_end(arguments);
    return text;
}

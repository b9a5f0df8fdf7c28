// printf-style formatting into a std::string, the dialogs' text type.
#pragma once

#include <string>

#if defined(__GNUC__)
#define PIC_PRINTF_FORMAT(formatIndex, firstArgument)                                              \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define PIC_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

// The text printf would print; no length limit. Throws std::bad_alloc when
// the text cannot be held, like every std::string operation.
std::string FormatText(const char* format, ...) PIC_PRINTF_FORMAT(1, 2);

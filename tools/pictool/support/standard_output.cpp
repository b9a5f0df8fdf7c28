#include "tools/pictool/support/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "engine/support/system_error_text.h"

namespace {

// The reason of the first failed flush, 0 while none failed.
int firstFailure = 0;

// The exit statuses of main.cpp's commands.
constexpr int kSuccess = 0;
constexpr int kFailure = 1;

} // namespace

void FlushStandardOutput()
{
    if (std::fflush(stdout) != 0 && firstFailure == 0)
        firstFailure = errno != 0 ? errno : EIO;
}

int FinishStandardOutput(int status)
{
    const bool failedBefore = std::ferror(stdout) != 0;
    errno = 0;
    if (std::fclose(stdout) != 0 && firstFailure == 0)
        firstFailure = errno;
    if (!failedBefore && firstFailure == 0)
        return status;
    const std::string why = firstFailure != 0 ? SystemErrorText(firstFailure) : "a write failed";
    std::fprintf(stderr, "pictool: cannot write standard output (%s)\n", why.c_str());
    return status == kSuccess ? kFailure : status;
}

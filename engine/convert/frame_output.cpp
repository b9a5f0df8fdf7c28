#include "engine/convert/frame_output.h"

#include <cerrno>
#include <filesystem>

#include "engine/support/system_error_text.h"

FrameOutput::Result FrameOutput::Open(const std::string& path, bool keepExisting)
{
    keep = keepExisting;
    if (path == "-") {
        WriteUnder(path);
        return kReady;
    }
    if (output.Open(path.c_str(), keep ? AtomicOutput::Existing::Keep
                                       : AtomicOutput::Existing::Replace) == nullptr) {
        failure = errno;
        return keep && failure == EEXIST ? kSkipped : kFailed;
    }
    writerName = output.NameForAnotherWriter();
    return kReady;
}

void FrameOutput::WriteUnder(const std::string& name)
{
    ownName = true;
    writerName = name;
}

FrameOutput::Result FrameOutput::Commit()
{
    if (ownName || output.Commit() == 1)
        return kReady;
    failure = errno;
    return keep && failure == EEXIST ? kSkipped : kFailed;
}

std::string SkippedText(const std::string& output)
{
    return output + ": exists; skipped (--no-clobber)";
}

std::string OutputFailureText(const std::string& path, int error)
{
    std::error_code status;
    if (error == EISDIR || std::filesystem::is_directory(path, status))
        return "is a directory";
    return SystemErrorText(error);
}

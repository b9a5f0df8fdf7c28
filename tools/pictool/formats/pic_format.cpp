#include "tools/pictool/formats/pic_format.h"

#include <cerrno>
#include <cstdio>

#include "pic/pic_header.h"
#include "tools/pictool/formats/image_format.h"
#include "tools/pictool/support/system_error_text.h"

namespace {

bool SniffPic(const uint8_t* head, size_t count)
{
    return count >= 4 && PicMagicAgrees(head, 4);
}

} // namespace

extern const ImageFormat kPicFormat = {
    "PIC",
    "pic",
    SniffPic,
    nullptr,
    nullptr,
    false,
    false,
    true,
    false,
    "by the plug-in's LoadImage: RGB or RGBA, 8 bits",
    "by the plug-in's WriteFrame: RGB or RGBA, raw or run-length",
};

bool ReadPicHeaderComment(const std::string& path, std::string& comment, std::string& error)
{
    char start[8 + kPicCommentSize];
    errno = 0;
    FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        error = SystemErrorText(errno != 0 ? errno : EIO);
        return false;
    }
    const size_t got = std::fread(start, 1, sizeof start, stream);
    const bool failed = std::ferror(stream) != 0;
    const int readError = errno;
    std::fclose(stream);
    if (failed) {
        error = SystemErrorText(readError != 0 ? readError : EIO);
        return false;
    }
    // A file too short for the field has no comment; the driver says why.
    comment = got == sizeof start ? std::string(start + 8, PicCommentLength(start + 8)) : "";
    return true;
}

std::string PicUserComment(const std::string& headerComment)
{
    constexpr size_t prefixLength = sizeof kPicCommentPrefix - 1;
    if (headerComment.compare(0, prefixLength, kPicCommentPrefix) == 0)
        return headerComment.substr(prefixLength);
    return headerComment;
}

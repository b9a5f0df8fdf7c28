#include "tools/pictool/formats/pic_format.h"

#include <cstdio>

#include "pic/pic_header.h"
#include "tools/pictool/formats/image_format.h"

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
    "by the plug-in's LoadImage: RGB or RGBA, 8 bits",
    "by the plug-in's WriteFrame: RGB or RGBA, raw or run-length",
};

std::string PicHeaderComment(const std::string& path)
{
    char start[8 + kPicCommentSize];
    FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr)
        return "";
    const size_t got = std::fread(start, 1, sizeof start, stream);
    std::fclose(stream);
    if (got != sizeof start)
        return "";
    const char* comment = start + 8;
    return std::string(comment, PicCommentLength(comment));
}

std::string PicUserComment(const std::string& headerComment)
{
    constexpr size_t prefixLength = sizeof kPicCommentPrefix - 1;
    if (headerComment.compare(0, prefixLength, kPicCommentPrefix) == 0)
        return headerComment.substr(prefixLength);
    return headerComment;
}

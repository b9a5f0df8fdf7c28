#include "pic/pic_comment.h"

#include "pic/pic_header.h"

std::string PicUserComment(const std::string& headerComment)
{
    constexpr size_t prefixLength = sizeof kPicCommentPrefix - 1;
    if (headerComment.compare(0, prefixLength, kPicCommentPrefix) == 0)
        return headerComment.substr(prefixLength);
    return headerComment;
}

std::string PicUserComment(const char (&field)[80])
{
    static_assert(sizeof field == size_t(kPicCommentSize), "the header's comment field");
    return PicUserComment(std::string(field, PicCommentLength(field)));
}

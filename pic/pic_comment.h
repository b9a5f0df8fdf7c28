// The user's part of a header comment. The driver stores its prefix
// (kPicCommentPrefix) before the user's comment (ComposeHeaderComment); a
// comment carried out of a PIC file, to another format or back into a PIC
// file, leaves the prefix behind, so that the next write does not add a
// second one.
#pragma once

#include <string>

// What follows the driver's prefix in `headerComment` (the field up to its
// first zero byte), or all of it when it has no such prefix.
std::string PicUserComment(const std::string& headerComment);
// The same from the header's 80-byte field as stored.
std::string PicUserComment(const char (&field)[80]);

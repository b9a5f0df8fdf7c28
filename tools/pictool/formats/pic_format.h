// PIC in the format table. Its pixels are read and written by the plug-in's
// drivers (the convert pipeline); this is what pictool reads of a PIC file
// itself: the header's comment.
#pragma once

#include <string>

// The comment field (bytes 8 to 87) of the PIC file `path` up to its first
// zero byte; false with the system's words when it cannot be read (a
// comment lost to a failed read must not pass for an empty one).
bool ReadPicHeaderComment(const std::string& path, std::string& comment, std::string& error);

// The user's part of a header comment: what follows the prefix the driver
// writes, or all of it when it has no such prefix. A comment carried to
// another file, or back into a PIC file, leaves the prefix behind, so that
// the driver's next write does not add a second one.
std::string PicUserComment(const std::string& headerComment);

// A failure in a person's words, the same in every command: what happened
// to which file, told from a driver's result code, the host's record of the
// error, the header reader's status and, for files that are not PIC files,
// the format their first bytes show.
#pragma once

#include <string>

#include "host/host_api.h"
#include "pic/pic_image.h"

// What the driver was asked to do with the file.
enum class DriverTask { ReadInfo, Load, Write };

// "is a directory", "not a PIC file (a PNG image)", "file ends inside the
// header", "no space left on device", ... for `file`. `given` is the name the
// driver was handed when it differs (the template of the frames it numbers):
// the host's record of the error may name either.
std::string DriverFailureText(const std::string& file, BMMRES result, DriverTask task,
                              const std::string& given = "");

// Why `facts` (of `file`, "-" for standard input) are not a readable PIC
// file: PicStatusText, with another format's file named by its format.
std::string PicFactsFailureText(const std::string& file, const PicImageFacts& facts);

// {"row": R, "offset": O, "reason": "..."} for damaged rows, else null.
std::string PicDamageJson(const PicImageFacts& facts);

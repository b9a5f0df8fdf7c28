// A driver's failing result in a person's words: what happened to which
// file, told from the result code, the host's record of the error and, for
// files that would not load, the file's own bytes.
#pragma once

#include <string>

#include "host/host_api.h"

// What the driver was asked to do with the file.
enum class DriverTask { ReadInfo, Load, Write };

// "is a directory", "not a PIC file", "file ends inside the header",
// "no space left on device", ... for `file`.
std::string DriverFailureText(const std::string& file, BMMRES result, DriverTask task);

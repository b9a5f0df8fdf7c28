// The stand-in's record of reported errors (inside the host library only).
#pragma once

#include "host/bitmap_info.h"

// Keeps the code, the file the info names and the message as given; a null
// message records the C library's current errno text, or the code's meaning
// when errno holds no reason.
void RecordReportedError(const BitmapInfo* info, int code, const char* message);

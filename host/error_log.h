// The stand-in host's log of reported errors: BitmapIO::ProcessImageIOError
// records each report, and tools and tests read the log back.
#pragma once

#include "host/bitmap_info.h"

// Keeps the code, the file the info names and the message as given; a null
// message records the C library's current errno text, or the code's meaning
// when errno holds no reason. Inside the host library only (not exported).
void RecordReportedError(const BitmapInfo* info, int code, const char* message);

// What the host remembers of each reported error.
struct BMMErrorRecord {
    int code;
    char file[kMaxPathLength];
    char message[256];
};
BMM_API int BMMReportedErrorCount();
// Copies record `index` (0 = oldest) into `out`; 0 when there is none.
BMM_API int BMMGetReportedError(int index, BMMErrorRecord* out);
BMM_API void BMMClearReportedErrors();

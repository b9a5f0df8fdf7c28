// Free functions of the host's bitmap library; the readers of its error log
// (BMMReportedErrorCount and the rest) come in from host/error_log.h.
#pragma once

#include "host/bitmap_io.h"
#include "host/error_log.h"

// A new, empty storage of the given kind (only kStorage64 exists), or null.
BMM_API BitmapStorage* BMMCreateStorage(BitmapManager* manager, int kind);

// The file name of frame `frame` of a sequence named by `name`: the frame
// number as at least four digits placed before the extension
// ("shot.pic", 7 -> "shot0007.pic"; "take" -> "take0007"). `out` holds
// kMaxPathLength bytes. Returns 0, leaving `out` empty, for a negative frame,
// a null argument or a result that does not fit; nonzero otherwise.
BMM_API int BMMCreateNumberedFilename(const char* name, int frame, char* out);

// Completes the record's name to a full path in place; 0 (name unchanged)
// when that fails or would not fit.
BMM_API int BMMGetFullFilename(BitmapInfo* info);

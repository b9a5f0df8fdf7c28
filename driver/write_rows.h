// The pixel rows of a PIC frame, taken from a host storage: each host
// channel narrowed to its high byte, into the arrays of the one writer
// (pic/pic_row_writer.h), which encodes them.
#pragma once

#include "host/bitmap_storage.h"
#include "pic/pic_row_writer.h"

// Every outcome but Written leaves the rows incomplete.
enum class RowWriteResult {
    Written,     // every row fetched and handed on without a failed write
    NoMemory,    // a buffer could not be allocated
    FetchFailed, // the storage gave no pixels for a row
    WriteFailed, // the output refused a write (errno says why)
};

// Rows 0 to height - 1 of `storage`, `width` pixels each, through `writer`,
// started for that width and height (0 <= width, height <= 32767). The
// storage is not touched when height is 0. `failedRow`, when given,
// receives the row a failure happened in.
RowWriteResult WriteStorageRows(PicRowWriter& writer, BitmapStorage* storage, int width, int height,
                                int* failedRow = nullptr);

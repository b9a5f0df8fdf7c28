// The pixel rows of a PIC file, taken from a host storage (layout: see
// pic/pic_header.h). Each host channel is written as its high byte.
#pragma once

#include "host/bitmap_storage.h"
#include "pic/byte_sink.h"

// Every outcome but Written leaves the rows incomplete.
enum class RowWriteResult {
    Written,       // every row fetched and handed to the sink without a failed write
    NoMemory,      // a row buffer could not be allocated; nothing was written
    FetchFailed,   // the storage gave no pixels for a row
    EncoderFailed, // the run-length encoder refused a row
    WriteFailed,   // the stream refused a write (errno says why)
};

// Rows 0 to height - 1, `width` pixels each (0 <= width, height <= 32767).
// Raw: per row 3 * width bytes red, green, blue, then with alpha `width`
// alpha bytes. The storage is not touched when height is 0. `failedRow`,
// when given, receives the row a failure happened in.
RowWriteResult WriteRawRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                            int withAlpha, int* failedRow = nullptr);

// The same rows, each as a mixed run-length colour stream followed, with
// alpha, by an alpha stream.
RowWriteResult WriteCompressedRows(PicByteSink& sink, BitmapStorage* storage, int width, int height,
                                   int withAlpha, int* failedRow = nullptr);

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "driver/pic_bitmap_io.h"
#include "driver/write_rows.h"
#include "host/bmm_functions.h"
#include "host/file_names.h"
#include "host/window_message.h"
#include "output/atomic_output.h"
#include "pic/byte_sink.h"
#include "pic/pic_header.h"
#include "pic/pic_row_writer.h"

namespace {

constexpr int kProgressTotal = 100;

// The header and every row, through to the stream (not yet closed); progress
// 50 between the two. Written only when every write succeeded.
RowWriteResult WritePicFile(FILE* file, const PicOptions& options, BitmapStorage* storage,
                            int width, int height, float ratio, HostWindow window, int* failedRow)
{
    const PicWriteOptions layout = PicWriteOptionsOf(options, ratio);
    PicByteSink sink(file);
    PicRowWriter writer(sink);
    const PicWriteResult started =
        writer.Start(uint32_t(width), uint32_t(height), options.withAlpha == 1, layout);
    if (started != PicWriteResult::Written)
        return started == PicWriteResult::NoMemory ? RowWriteResult::NoMemory
                                                   : RowWriteResult::WriteFailed;
    SendProgress(window, 50, kProgressTotal);
    const RowWriteResult rows = WriteStorageRows(writer, storage, width, height, failedRow);
    const int flushed = sink.Flush();
    if (rows != RowWriteResult::Written)
        return rows;
    return flushed ? RowWriteResult::Written : RowWriteResult::WriteFailed;
}

// The message for a failure the driver detected itself, or null for one of
// the file system (errno holds its reason).
const char* FailureMessage(RowWriteResult result, int row, char (&text)[80])
{
    switch (result) {
    case RowWriteResult::FetchFailed:
        std::snprintf(text, sizeof text, "storage gave no pixels for row %d", row);
        return text;
    default:
        return nullptr;
    }
}

} // namespace

// Every write, row fetch, flush, close and rename is checked: a frame either
// ends as a complete file under its name or leaves that name as it was. The
// file is opened where and as "wb" would open it, and built under a temporary
// name beside it where that is possible (AtomicOutput); a target that cannot
// be replaced without losing something (a device, a hard link, an owner this
// process cannot give) is written in place, and is then not atomic.
BMMRES PicBitmapIO::WriteFrame(int frame)
{
    if (openMode != kOpenModeWrite)
        return ProcessImageIOError(&outputInfo, kResultWrongMode);

    char numbered[kMaxPathLength];
    const char* name = numbered;
    if (frame == kSingleFrame) {
        name = ReadNameField(outputInfo.Name()); // sets errno for the report
        if (name == nullptr)
            return ProcessImageIOError(&outputInfo, static_cast<const char*>(nullptr));
    } else if (!BMMCreateNumberedFilename(outputInfo.Name(), frame, numbered)) {
        return ProcessImageIOError(&outputInfo, kResultNoNumberedName);
    }

    BitmapStorage* storage = outputBitmap->Storage();
    const int width = storage != nullptr ? storage->bi.Width() : 0;
    const int height = storage != nullptr ? storage->bi.Height() : 0;
    const float ratio = storage != nullptr ? storage->bi.Aspect() : 0.0f;
    if (width > kPicMaxSide || height > kPicMaxSide)
        return ProcessImageIOError(&outputInfo, PicTooLargeText().c_str());

    try {
        // A read-only target, a folder or an unreachable name is refused
        // here, before any progress, with errno naming the reason.
        AtomicOutput output;
        FILE* file = output.Open(name);
        if (file == nullptr)
            return ProcessImageIOError(&outputInfo, static_cast<const char*>(nullptr));
        const HostWindow window = outputInfo.GetUpdateWindow();
        SendProgress(window, 25, kProgressTotal);
        header.width = int16_t(width);
        header.height = int16_t(height);
        header.ratio = ratio;
        // A failed write of the C library sets errno; one that it leaves
        // unset must not show an older, unrelated reason.
        errno = EIO;
        int failedRow = 0;
        const RowWriteResult written =
            WritePicFile(file, options, storage, width, height, ratio, window, &failedRow);
        if (written == RowWriteResult::NoMemory)
            return ProcessImageIOError(&outputInfo, kResultNoMemory);
        if (written != RowWriteResult::Written) {
            char text[80];
            return ProcessImageIOError(&outputInfo, FailureMessage(written, failedRow, text));
        }
        SendProgress(window, 100, kProgressTotal);

        if (!output.Commit())
            return ProcessImageIOError(&outputInfo, static_cast<const char*>(nullptr));
        return kResultSuccess;
    } catch (const std::bad_alloc&) {
        return ProcessImageIOError(&outputInfo, kResultNoMemory);
    }
}

#include <cerrno>
#include <cstring>
#include <new>

#include "driver/atomic_output.h"
#include "driver/pic_bitmap_io.h"
#include "driver/write_rows.h"
#include "host/bmm_functions.h"
#include "host/window_message.h"
#include "pic/byte_sink.h"

namespace {

// Rows are coded with signed 16-bit widths and positions.
constexpr int kMaxFrameSide = 32767;
constexpr char kFrameTooLarge[] = "image wider or higher than 32767 pixels";

constexpr int kProgressTotal = 100;

// The header and every row, through to the stream (not yet closed); progress
// 50 between the two. Written only when every write succeeded.
RowWriteResult WritePicFile(FILE* file, const PicOptions& options, BitmapStorage* storage,
                            int width, int height, float ratio, HostWindow window)
{
    uint32_t ratioBits;
    std::memcpy(&ratioBits, &ratio, sizeof ratioBits);
    const int headerWritten = WritePicHeader(file, options.comment, width, height, ratioBits,
                                             options.withAlpha, options.rgbCompressed);
    SendProgress(window, 50, kProgressTotal);
    PicByteSink sink(file);
    const RowWriteResult rows =
        options.rgbCompressed == 1
            ? WriteCompressedRows(sink, storage, width, height, options.withAlpha)
            : WriteRawRows(sink, storage, width, height, options.withAlpha);
    const int flushed = sink.Flush();
    if (rows != RowWriteResult::Written)
        return rows;
    return headerWritten && flushed ? RowWriteResult::Written : RowWriteResult::Failed;
}

} // namespace

// Every write, row fetch, flush, close and rename is checked: a frame either
// ends as a complete file under its name or leaves that name as it was. The
// file is built under a temporary name beside it (AtomicOutput).
BMMRES PicBitmapIO::WriteFrame(int frame)
{
    if (openMode != kOpenModeWrite)
        return ProcessImageIOError(&outputInfo, kResultWrongMode);
    // A null-message report records errno: keep an older, unrelated one out of it.
    errno = 0;

    char name[kMaxPathLength];
    if (frame == kSingleFrame) {
        const size_t length = strnlen(outputInfo.Name(), kMaxPathLength);
        if (length >= size_t(kMaxPathLength))
            return ProcessImageIOError(&outputInfo, static_cast<const char*>(nullptr));
        std::memcpy(name, outputInfo.Name(), length + 1);
    } else if (!BMMCreateNumberedFilename(outputInfo.Name(), frame, name)) {
        return ProcessImageIOError(&outputInfo, kResultNoNumberedName);
    }

    BitmapStorage* storage = outputBitmap->Storage();
    const int width = storage != nullptr ? storage->bi.Width() : 0;
    const int height = storage != nullptr ? storage->bi.Height() : 0;
    const float ratio = storage != nullptr ? storage->bi.Aspect() : 0.0f;
    if (width > kMaxFrameSide || height > kMaxFrameSide)
        return ProcessImageIOError(&outputInfo, kFrameTooLarge);

    try {
        AtomicOutput output;
        FILE* file = output.Open(name);
        if (file == nullptr)
            return ProcessImageIOError(&outputInfo, static_cast<const char*>(nullptr));
        const HostWindow window = outputInfo.GetUpdateWindow();
        SendProgress(window, 25, kProgressTotal);
        header.width = int16_t(width);
        header.height = int16_t(height);
        header.ratio = ratio;
        const RowWriteResult written =
            WritePicFile(file, options, storage, width, height, ratio, window);
        if (written == RowWriteResult::NoMemory)
            return ProcessImageIOError(&outputInfo, kResultNoMemory);
        if (written != RowWriteResult::Written)
            return ProcessImageIOError(&outputInfo, static_cast<const char*>(nullptr));
        SendProgress(window, 100, kProgressTotal);

        if (!output.Commit())
            return ProcessImageIOError(&outputInfo, static_cast<const char*>(nullptr));
        return kResultSuccess;
    } catch (const std::bad_alloc&) {
        return ProcessImageIOError(&outputInfo, kResultNoMemory);
    }
}

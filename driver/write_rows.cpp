#include "driver/write_rows.h"

#include <cstddef>
#include <memory>
#include <new>

#include "driver/pixel_rows.h"

namespace {

// The high bytes of a row of host pixels, into every array the writer asks for.
void NarrowRow(const BMM_Color_64* pixels, int width, const PicRowArrays& arrays)
{
    if (arrays.red != nullptr) {
        NarrowToPlanar(pixels, width, arrays.red, arrays.green, arrays.blue, arrays.alpha,
                       arrays.rgb);
        return;
    }
    NarrowToInterleaved(pixels, width, arrays.rgb);
    if (arrays.alpha != nullptr)
        NarrowAlpha(pixels, width, arrays.alpha);
}

RowWriteResult FailedAt(RowWriteResult result, int y, int* failedRow)
{
    if (failedRow != nullptr)
        *failedRow = y;
    return result;
}

} // namespace

RowWriteResult WriteStorageRows(PicRowWriter& writer, BitmapStorage* storage, int width, int height,
                                int* failedRow)
{
    if (height <= 0)
        return RowWriteResult::Written;
    // One row of host pixels for the fetches, zeroed as a storage that
    // fetches nothing into it still leaves defined bytes.
    std::unique_ptr<BMM_Color_64[]> pixels(new (std::nothrow) BMM_Color_64[size_t(width)]());
    if (pixels == nullptr)
        return RowWriteResult::NoMemory;
    for (int y = 0; y < height; ++y) {
        if (storage->FetchRow(0, y, width, pixels.get()) != 1)
            return FailedAt(RowWriteResult::FetchFailed, y, failedRow);
        NarrowRow(pixels.get(), width, writer.Row());
        if (writer.WriteRow() != PicWriteResult::Written)
            return FailedAt(RowWriteResult::WriteFailed, y, failedRow);
    }
    return RowWriteResult::Written;
}

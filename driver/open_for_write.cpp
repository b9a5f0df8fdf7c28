#include "driver/pic_bitmap_io.h"

BMMRES PicBitmapIO::OpenForWrite(BitmapInfo* info, Bitmap* bitmap)
{
    // A driver is bound to one output for its whole life.
    if (openMode != kOpenModeNone)
        return ProcessImageIOError(&outputInfo, kResultWrongMode);
    if (bitmap == nullptr || info == nullptr)
        return ProcessImageIOError(&outputInfo, kResultWrongMode);
    outputInfo.CopyImageInfo(info);
    outputInfo.SetUpdateWindow(info->GetUpdateWindow());
    outputBitmap = bitmap;
    openMode = kOpenModeWrite;
    return kResultSuccess;
}

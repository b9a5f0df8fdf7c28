// Loading and writing are not built yet: each answers as it does when the
// work cannot be done.
#include "driver/pic_bitmap_io.h"

BitmapStorage* PicBitmapIO::LoadImage(BitmapInfo* info, Bitmap*, BMMRES* status)
{
    *status = openMode != kOpenModeNone ? ProcessImageIOError(info, kResultWrongMode)
                                        : ProcessImageIOError(info, kResultNoMemory);
    return nullptr;
}

BMMRES PicBitmapIO::WriteFrame(int)
{
    if (openMode != kOpenModeWrite)
        return ProcessImageIOError(&outputInfo, kResultWrongMode);
    return ProcessImageIOError(&outputInfo, static_cast<const char*>(nullptr));
}

// Operations whose work is not built yet answer as they do when the work
// cannot be done.
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

int PicBitmapIO::ShowAbout(HostWindow) { return -1; }

int PicBitmapIO::ShowOptions(HostWindow, int) { return 0; }

BMMRES PicBitmapIO::ShowImageInfo(HostWindow, BitmapInfo* info, const char* fileName)
{
    BitmapInfo record;
    record.Copy(info);
    if (fileName != nullptr)
        record.SetName(fileName);
    return ReadImageInfo(&record);
}

// The dialogs are not built yet: each answers as it does when its dialog
// cannot be created.
#include "driver/pic_bitmap_io.h"

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

#include <cstdio>
#include <cstring>
#include <new>

#include "driver/file_closer.h"
#include "driver/pic_bitmap_io.h"

void PicBitmapIO::FillImageInfo(BitmapInfo* info) const
{
    info->SetWidth(header.Width());
    info->SetHeight(header.Height());
    info->SetAspect(header.ratio);
    info->SetGamma(1.0f);
    info->SetFirstFrame(0);
    info->SetLastFrame(0);
    info->SetType(options.withAlpha == 1 ? kImageType32WithAlpha : kImageType24);
}

BMMRES PicBitmapIO::ReadImageInfo(BitmapInfo* info)
{
    FileCloser file(OpenNamedFile(info->Name(), "rb"));
    if (!file)
        return ProcessImageIOError(info, static_cast<const char*>(nullptr));
    try {
        // Every reason the header is not read is the host's bad-header code.
        if (ReadPicHeader(file.get(), header, packet, options.withAlpha, options.rgbCompressed,
                          options.alphaCompressed) != PicHeaderStatus::Read)
            return ProcessImageIOError(info, kResultBadHeader);
    } catch (const std::bad_alloc&) {
        return ProcessImageIOError(info, kResultNoMemory);
    }
    FillImageInfo(info);
    return kResultSuccess;
}

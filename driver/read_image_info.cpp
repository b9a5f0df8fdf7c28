#include <cstdio>
#include <cstring>

#include "driver/file_closer.h"
#include "driver/pic_bitmap_io.h"

void PicBitmapIO::FillImageInfo(BitmapInfo* info) const
{
    // The header's 16-bit fields reach the host unchanged, whatever their sign.
    info->SetWidth(uint16_t(header.width));
    info->SetHeight(uint16_t(header.height));
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
    if (!ReadPicHeader(file.get(), header, packet, options.withAlpha, options.rgbCompressed,
                       options.alphaCompressed))
        return ProcessImageIOError(info, kResultBadHeader);
    FillImageInfo(info);
    return kResultSuccess;
}

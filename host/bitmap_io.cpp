#include "host/bitmap_io.h"

#include "host/error_log.h"

BitmapIO::BitmapIO() : outputBitmap(nullptr), openMode(kOpenModeNone) {}
BitmapIO::~BitmapIO() = default;

int BitmapIO::ShowImage(HostWindow, BitmapInfo*)
{
    return 0;
}
int BitmapIO::ValidatePiData(BitmapInfo*)
{
    return 1;
}
int BitmapIO::ChannelsRequired()
{
    return 0;
}
int BitmapIO::GetImageName(BitmapInfo*, char* name)
{
    if (name != nullptr)
        name[0] = '\0';
    return 0;
}
void* BitmapIO::GetPaviFile()
{
    return nullptr;
}
int BitmapIO::EvalMatch(const char*)
{
    return 0;
}

BMMRES BitmapIO::ProcessImageIOError(BitmapInfo* info, int code)
{
    RecordReportedError(info, code, nullptr);
    return static_cast<BMMRES>(code);
}

BMMRES BitmapIO::ProcessImageIOError(BitmapInfo* info, const char* message)
{
    RecordReportedError(info, kResultSystemError, message);
    return kResultSystemError;
}

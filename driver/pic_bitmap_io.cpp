#include "driver/pic_bitmap_io.h"

#include <cstring>

#include "driver/driver_description.h"

PicBitmapIO::PicBitmapIO() : options(DefaultPicOptions())
{
    // Filled by the header reader; zero until then rather than indeterminate.
    std::memset(&header, 0, sizeof header);
    std::memset(&packet, 0, sizeof packet);
}

PicBitmapIO::~PicBitmapIO() = default;

void* PicBitmapIO::Destroy(unsigned int deleteFlag)
{
    if (deleteFlag & 1)
        delete this;
    else
        this->~PicBitmapIO();
    return this;
}

int PicBitmapIO::ExtensionCount()
{
    return DriverDescription.extensionCount;
}

const char* PicBitmapIO::Extension(int index)
{
    if (index < 0 || index >= DriverDescription.extensionCount)
        return "";
    return DriverDescription.extensions[index];
}

const char* PicBitmapIO::LongDescription()
{
    return DriverDescription.longDescription;
}
const char* PicBitmapIO::ShortDescription()
{
    return DriverDescription.shortDescription;
}
const char* PicBitmapIO::Author()
{
    return DriverDescription.author;
}
const char* PicBitmapIO::CopyrightNotice()
{
    return DriverDescription.copyright;
}
unsigned int PicBitmapIO::VersionNumber()
{
    return DriverDescription.version;
}
int PicBitmapIO::Capabilities()
{
    return DriverDescription.capabilities;
}

int PicBitmapIO::OptionsSize()
{
    return kPicOptionsSize;
}

int PicBitmapIO::SaveOptions(void* buffer)
{
    if (buffer == nullptr)
        return 0;
    std::memcpy(buffer, &options, sizeof options);
    return 1;
}

int PicBitmapIO::LoadOptions(const void* buffer)
{
    if (buffer == nullptr)
        return 0;
    uint32_t signature;
    std::memcpy(&signature, buffer, sizeof signature);
    if (signature != kPicOptionsSignature)
        return 0;
    std::memcpy(&options, buffer, sizeof options);
    return 1;
}

int PicBitmapIO::CloseOutput(int)
{
    return 1;
}

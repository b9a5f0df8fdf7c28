#include "host/bitmap_info.h"

#include <cstring>

BitmapInfo::BitmapInfo()
    : updateWindow(nullptr), width(0), height(0), aspect(1.0f), gamma(1.0f), firstFrame(0),
      lastFrame(0), flags(0), type(0)
{
    std::memset(name, 0, sizeof name);
}

BitmapInfo::~BitmapInfo() = default;

void BitmapInfo::Copy(const BitmapInfo* from)
{
    if (from == nullptr || from == this)
        return;
    CopyImageInfo(from);
    updateWindow = from->updateWindow;
}

void BitmapInfo::CopyImageInfo(const BitmapInfo* from)
{
    if (from == nullptr || from == this)
        return;
    std::memcpy(name, from->name, sizeof name);
    width = from->width;
    height = from->height;
    aspect = from->aspect;
    gamma = from->gamma;
    firstFrame = from->firstFrame;
    lastFrame = from->lastFrame;
    flags = from->flags;
    type = from->type;
}

void BitmapInfo::SetName(const char* newName)
{
    std::memset(name, 0, sizeof name);
    if (newName != nullptr)
        std::strncpy(name, newName, sizeof name - 1);
}

#include "host/bmm_functions.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "host/file_names.h"
#include "host/full_path.h"

BitmapStorage* BMMCreateStorage(BitmapManager*, int kind)
{
    if (kind != kStorage64)
        return nullptr;
    return new (std::nothrow) BitmapStorage();
}

int BMMCreateNumberedFilename(const char* name, int frame, char* out)
{
    if (out == nullptr)
        return 0;
    out[0] = '\0';
    if (name == nullptr || frame < 0)
        return 0;

    // A name that fills the 260-character field (no terminator within it)
    // cannot take four digits more.
    size_t length = 0;
    if (ReadNameField(name, &length) == nullptr)
        return 0;
    // The extension starts at the last dot of the last path component.
    size_t stemLength = length;
    for (size_t i = length; i > 0; --i) {
        const char c = name[i - 1];
        if (IsPathSeparator(c))
            break;
        if (c == '.') {
            stemLength = i - 1;
            break;
        }
    }

    const int written =
        std::snprintf(nullptr, 0, "%.*s%04d%s", int(stemLength), name, frame, name + stemLength);
    if (written < 0 || written >= kMaxPathLength)
        return 0;
    std::snprintf(out, kMaxPathLength, "%.*s%04d%s", int(stemLength), name, frame,
                  name + stemLength);
    return 1;
}

int BMMGetFullFilename(BitmapInfo* info)
{
    if (info == nullptr || ReadNameField(info->Name()) == nullptr || info->Name()[0] == '\0')
        return 0;
    char full[kMaxPathLength];
    if (!FullPathOf(info->Name(), full))
        return 0;
    info->SetName(full);
    return 1;
}

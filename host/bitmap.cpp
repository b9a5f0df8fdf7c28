#include "host/bitmap.h"

BitmapManager::BitmapManager() = default;
BitmapManager::~BitmapManager() = default;

Bitmap::Bitmap(BitmapManager* owner) : manager(owner), storage(nullptr) {}

Bitmap::~Bitmap()
{
    SetStorage(nullptr);
}

void Bitmap::SetStorage(BitmapStorage* newStorage)
{
    if (storage != nullptr && storage != newStorage)
        storage->Release(1);
    storage = newStorage;
}

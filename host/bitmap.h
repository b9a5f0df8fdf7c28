// The host's bitmap and its manager: a bitmap carries the manager that makes
// storages for it and the storage that holds its pixels.
#pragma once

#include "host/bitmap_storage.h"

class BMM_API BitmapManager {
public:
    BitmapManager();
    ~BitmapManager();
};

class BMM_API Bitmap {
public:
    explicit Bitmap(BitmapManager* manager);
    // Releases (and frees) the storage it holds.
    ~Bitmap();

    BitmapManager* Manager() const { return manager; }
    BitmapStorage* Storage() const { return storage; }
    // Takes ownership of `newStorage`, releasing the one held before.
    void SetStorage(BitmapStorage* newStorage);

private:
    BitmapManager* manager;
    BitmapStorage* storage;
};

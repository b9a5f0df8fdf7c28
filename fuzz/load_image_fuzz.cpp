// Fuzzes whole-file loading: any bytes as a PIC file, loaded by a fresh
// driver into the stand-in host's storage. The load must answer a storage
// with status 0, or no storage with the code for a bad header (13) or for
// memory (3); never anything else, and never touch memory it does not own.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "driver/pic_bitmap_io.h"
#include "fuzz/process_file.h"
#include "host/bmm_functions.h"

namespace {

// Storages between 2^22 and 2^28 pixels (the stand-in's bound) would cost
// the fuzzer up to 2 GiB each; inputs that ask for one are skipped.
bool AsksForHugeStorage(const uint8_t* data, size_t size)
{
    if (size < 96)
        return false;
    const uint64_t width = (unsigned(data[92]) << 8) | data[93];
    const uint64_t height = (unsigned(data[94]) << 8) | data[95];
    const uint64_t pixels = width * height;
    return pixels > (uint64_t(1) << 22) && pixels <= kMaxStoragePixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzz::ProcessFile input("pic-load-fuzz");
    if (AsksForHugeStorage(data, size) || !input.Write(data, size))
        return 0;

    PicBitmapIO driver;
    BitmapManager manager;
    Bitmap bitmap(&manager);
    BitmapInfo info;
    info.SetName(input.Path());
    BMMRES status = 0xEEEE;
    BitmapStorage* storage = driver.LoadImage(&info, &bitmap, &status);
    BMMClearReportedErrors();
    if (storage == nullptr) {
        if (status != kResultBadHeader && status != kResultNoMemory)
            std::abort();
        return 0;
    }
    if (status != kResultSuccess || storage->Width() != info.Width() ||
        storage->Height() != info.Height() || storage->bi.Width() != info.Width())
        std::abort();
    storage->Release(1);
    return 0;
}

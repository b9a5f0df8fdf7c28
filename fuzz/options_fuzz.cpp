// Fuzzes LoadOptions with any 96-byte block (shorter inputs are padded with
// zeros, longer ones cut): a block is taken whole exactly when its signature
// matches, and refused without any change otherwise.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "driver/pic_bitmap_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t block[kPicOptionsSize] = {};
    std::memcpy(block, data, size < sizeof block ? size : sizeof block);

    PicBitmapIO driver;
    uint8_t before[kPicOptionsSize];
    driver.SaveOptions(before);
    const int result = driver.LoadOptions(block);
    uint8_t after[kPicOptionsSize];
    driver.SaveOptions(after);

    uint32_t signature;
    std::memcpy(&signature, block, sizeof signature);
    if (signature == kPicOptionsSignature) {
        if (result != 1 || std::memcmp(after, block, sizeof block) != 0)
            std::abort();
    } else if (result != 0 || std::memcmp(after, before, sizeof before) != 0) {
        std::abort();
    }
    return 0;
}

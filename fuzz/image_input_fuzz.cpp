// Fuzzes pictool's image readers (every format in the table: PAM, PGM, PPM,
// and PNG, JPEG, TIFF and EXR where the libraries are built in) through the
// one entry that tells them apart by content: any bytes either fail with a
// message or give an image whose channels match its declared size, within
// the pixel limit. The corpus has a file of each layout the readers tell
// apart (EXR windows, layers, parts, luminance-chroma and uint; TIFF
// palette, CMYK, L*a*b*, YCbCr JPEG, BigTIFF, signed, half, bilevel; PNG
// text chunks; progressive JPEG), so that each path is reached.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/formats/whole_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The readers take named files, as pictool gives them: one per process.
    static const std::string path =
        (std::filesystem::temp_directory_path() / "image_input_fuzz.bin").string();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        std::abort();
    constexpr uint64_t kLimit = uint64_t(1) << 20; // keeps each run quick
    ReadSettings settings;
    settings.maxPixels = kLimit;
    settings.maxBlockMib = 16;
    settings.maxScans = 20;
    HostImage image;
    std::string error;
    if (ReadImageFile(path, settings, image, error)) {
        const uint64_t pixels = uint64_t(image.width) * image.height;
        if (pixels == 0 || pixels > kLimit || image.channels.size() != pixels * 4 || !error.empty())
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}

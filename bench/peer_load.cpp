// A peer's first load of a PIC file, timed as the driver's is: stb_image
// (Debian's libstb-dev) decoding FILE into 8-bit RGBA in this fresh
// process. Prints the milliseconds; with PIXELS, also writes the RGBA
// pixels there (bench/salvage_peers.py counts a damaged file's rows so).
//   usage: peer_load FILE [PIXELS]
#include <chrono>
#include <cstdio>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PIC
#include <stb/stb_image.h>

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: peer_load FILE [PIXELS]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(argv[1], &width, &height, &channels, 4);
    const auto stop = std::chrono::steady_clock::now();
    if (pixels == nullptr)
        return 1;
    if (argc == 3) {
        FILE* out = std::fopen(argv[2], "wb");
        if (out == nullptr)
            return 1;
        std::fwrite(pixels, 4, size_t(width) * size_t(height), out);
        std::fclose(out);
    }
    stbi_image_free(pixels);
    std::printf("%.3f\n", std::chrono::duration<double, std::milli>(stop - start).count());
    return 0;
}

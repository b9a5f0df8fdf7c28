// A peer's first load of a PIC file, timed as the driver's is: stb_image
// (Debian's libstb-dev) decoding FILE into 8-bit RGBA in this fresh
// process. Prints the milliseconds.
//   usage: peer_load FILE
#include <chrono>
#include <cstdio>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PIC
#include <stb/stb_image.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: peer_load FILE\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(argv[1], &width, &height, &channels, 4);
    const auto stop = std::chrono::steady_clock::now();
    if (pixels == nullptr)
        return 1;
    stbi_image_free(pixels);
    std::printf("%.3f\n", std::chrono::duration<double, std::milli>(stop - start).count());
    return 0;
}

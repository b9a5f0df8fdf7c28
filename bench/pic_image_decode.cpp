// Times the whole-image reader decoding PIC files from memory, as
// bench/wasm_decode.mjs times the WebAssembly module on the same files:
// per file the first decode in this process, then the median of RUNS more.
//   usage: pic_image_decode [--runs N] FILE...
// Prints one line a file: "FILE first MS median MS".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "pic/pic_image.h"

namespace {

double DecodeMs(const std::vector<uint8_t>& bytes)
{
    const auto start = std::chrono::steady_clock::now();
    const PicImage image = ReadPicImageMemory(bytes.data(), bytes.size(), true);
    const auto end = std::chrono::steady_clock::now();
    if (image.pixels == nullptr) {
        std::fprintf(stderr, "pic_image_decode: %s\n", PicStatusText(image.facts).c_str());
        std::exit(1);
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 15;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--runs") == 0) {
        runs = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    for (int index = first; index < argc; ++index) {
        std::ifstream file(argv[index], std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
        const double firstMs = DecodeMs(bytes);
        std::vector<double> times;
        for (int run = 0; run < runs; ++run)
            times.push_back(DecodeMs(bytes));
        std::sort(times.begin(), times.end());
        std::printf("%s first %.2f median %.2f\n", argv[index], firstMs, times[times.size() / 2]);
    }
    return 0;
}

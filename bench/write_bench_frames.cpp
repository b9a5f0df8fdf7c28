// Writes the benchmarks' typical and noisy UHD frames as PIC files (RGBA,
// mixed run-length, as the driver writes them), for benchmarks that read
// files: bench/picfile_bench.py.
//   usage: write_bench_frames FOLDER   (writes FOLDER/typical.pic, FOLDER/noisy.pic)
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_frames.h"
#include "pic/pic_image.h"

namespace {

bool WriteFrame(const BenchFrame& frame, const std::string& path)
{
    std::vector<uint8_t> pixels(size_t(frame.width) * size_t(frame.height) * 4);
    for (size_t index = 0; index < frame.red.size(); ++index) {
        pixels[4 * index] = frame.red[index];
        pixels[4 * index + 1] = frame.green[index];
        pixels[4 * index + 2] = frame.blue[index];
        pixels[4 * index + 3] = frame.alpha[index];
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const PicWriteResult written =
        WritePicImage(file, pixels.data(), uint32_t(frame.width), uint32_t(frame.height), 4,
                      size_t(frame.width) * 4, PicWriteOptions());
    return std::fclose(file) == 0 && written == PicWriteResult::Written;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_bench_frames FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    if (!WriteFrame(MakeTypicalRenderFrame(), folder + "/typical.pic") ||
        !WriteFrame(MakeNoisyFrame(), folder + "/noisy.pic")) {
        std::perror(folder.c_str());
        return 1;
    }
    return 0;
}

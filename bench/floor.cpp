// The floor under a first LoadImage or WriteFrame: the least any driver
// could do for the same frame in a fresh process, timed the same way, so
// that the driver's figures can be read against it.
//
//   pic_floor load FILE                       read FILE once in pieces and write every
//                                             byte of a fresh plain storage of the size
//                                             its PIC header gives (8 bytes a pixel)
//   pic_floor write OUT WIDTH HEIGHT BYTES    read every pixel of a warm storage once
//                                             and write BYTES bytes to the new file OUT
//
// Prints the milliseconds of that work. Only the standard library: the same
// program measures the floor natively and under Wine.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kPieceBytes = 64 << 10;
constexpr size_t kPixelBytes = 8;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Keeps the compiler from dropping work whose result nothing else reads.
volatile uint64_t sink;

int Load(const char* path)
{
    const Clock::time_point start = Clock::now();
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return 1;
    std::fseek(file, 0, SEEK_END);
    const long fileBytes = std::ftell(file);
    std::rewind(file);
    std::vector<uint8_t> piece(kPieceBytes);
    size_t got = std::fread(piece.data(), 1, piece.size(), file);
    if (got < 104 || fileBytes <= 0) {
        std::fclose(file);
        return 1;
    }
    const size_t width = size_t(piece[92]) << 8 | piece[93];
    const size_t height = size_t(piece[94]) << 8 | piece[95];
    const size_t rowBytes = width * kPixelBytes;
    auto* storage = static_cast<uint8_t*>(std::calloc(height * rowBytes + 1, 1));
    if (storage == nullptr) {
        std::fclose(file);
        return 1;
    }
    // Rows are written as the pieces arrive, in step with the file, each
    // from a byte of the piece that brought it.
    size_t read = 0;
    size_t stored = 0;
    while (got > 0) {
        read += got;
        const size_t due = size_t(double(height) * double(read) / double(fileBytes));
        for (; stored < height && stored < due; ++stored)
            std::memset(storage + stored * rowBytes, piece[stored % got], rowBytes);
        got = std::fread(piece.data(), 1, piece.size(), file);
    }
    for (; stored < height; ++stored)
        std::memset(storage + stored * rowBytes, 0x5A, rowBytes);
    std::fclose(file);
    const double ms = MillisecondsSince(start);
    sink = storage[height * rowBytes / 2];
    std::free(storage);
    std::printf("%.3f\n", ms);
    return 0;
}

int Write(const char* path, size_t width, size_t height, size_t bytes)
{
    std::vector<uint64_t> storage(width * height);
    for (size_t i = 0; i < storage.size(); ++i)
        storage[i] = i * 0x9E3779B97F4A7C15ull;
    const size_t rowFileBytes = height > 0 ? bytes / height : bytes;
    std::vector<uint8_t> row(rowFileBytes + bytes % (height > 0 ? height : 1) + 1);

    const Clock::time_point start = Clock::now();
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
        return 1;
    bool ok = true;
    for (size_t y = 0; y < height; ++y) {
        uint64_t seen = 0;
        const uint64_t* pixels = storage.data() + y * width;
        for (size_t x = 0; x < width; ++x)
            seen ^= pixels[x];
        row[0] = uint8_t(seen);
        const size_t count = y + 1 < height ? rowFileBytes : bytes - rowFileBytes * y;
        ok = ok && std::fwrite(row.data(), 1, count, file) == count;
    }
    ok = std::fclose(file) == 0 && ok;
    const double ms = MillisecondsSince(start);
    if (!ok)
        return 1;
    std::printf("%.3f\n", ms);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "load") == 0)
        return Load(argv[2]);
    if (argc == 6 && std::strcmp(argv[1], "write") == 0)
        return Write(argv[2], std::strtoul(argv[3], nullptr, 10),
                     std::strtoul(argv[4], nullptr, 10), std::strtoul(argv[5], nullptr, 10));
    std::fprintf(stderr, "usage: pic_floor load FILE | pic_floor write OUT WIDTH HEIGHT BYTES\n");
    return 2;
}

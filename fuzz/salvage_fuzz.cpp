// Fuzzes salvage (pic/pic_salvage.h) through the whole-image reader: any
// bytes as a PIC file, read with and without salvage under a small pixel
// limit. Salvage reads no more than its bound, changes nothing before the
// row that ended the plain read, and its lost rows are transparent black
// and account, with the rows it placed, for every row after that one. The
// worst ratio of salvage's packet reads to the file's bytes is printed as
// it grows.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pic/pic_image.h"

namespace {

void Check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "salvage fault: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PicReadRequest request;
    request.maxPixels = 1 << 16;
    request.salvage = true;
    const PicImage image = ReadPicImageMemory(data, size, request);
    const PicImage plain = ReadPicImageMemory(data, size, true, request.maxPixels);
    Check(image.facts.status == plain.facts.status, "statuses differ");
    if (image.facts.status != PicImageStatus::Ok)
        return 0;
    const PicImageFacts& facts = image.facts;
    Check(facts.rows.damaged == plain.facts.rows.damaged &&
              facts.rows.damage.row == plain.facts.rows.damage.row &&
              facts.rows.damage.offset == plain.facts.rows.damage.offset,
          "salvage changed the damage found");
    const size_t rowBytes = size_t(facts.width) * size_t(facts.Channels());
    if (!facts.salvaged) {
        Check(std::memcmp(image.pixels.get(), plain.pixels.get(), image.PixelBytes()) == 0,
              "pixels differ without salvage at work");
        return 0;
    }
    const PicSalvage& salvage = facts.salvage;
    const uint64_t bound = kPicSalvageStepsPerByte * uint64_t(size) + kPicSalvageFixedSteps;
    Check(salvage.steps <= bound, "salvage read past its bound");
    static double worst = 0;
    const double ratio = double(salvage.steps) / double(size);
    if (ratio > worst) {
        worst = ratio;
        std::fprintf(stderr, "salvage: %.2f packet reads a byte (%llu for %zu bytes)\n", ratio,
                     (unsigned long long)salvage.steps, size);
    }
    // The rows before the first lost one are the plain read's.
    const uint32_t firstLost = salvage.lostRows.empty() ? facts.height : salvage.lostRows[0].first;
    Check(std::memcmp(image.pixels.get(), plain.pixels.get(), firstLost * rowBytes) == 0,
          "rows before the damage differ");
    uint64_t lost = 0;
    for (const PicRowRange& range : salvage.lostRows) {
        Check(range.first <= range.last && range.last < facts.height, "lost rows outside");
        lost += range.last - range.first + 1;
        for (size_t byte = range.first * rowBytes; byte < (range.last + 1) * rowBytes; ++byte)
            Check(image.pixels[byte] == 0, "a lost row is not transparent black");
    }
    Check(lost + salvage.recoveredRows <= facts.height, "more rows than the picture");
    Check(salvage.lostRows.empty() ||
              lost + salvage.recoveredRows == facts.height - salvage.lostRows[0].first,
          "lost and found rows do not add up");
    return 0;
}

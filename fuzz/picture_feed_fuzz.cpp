// Fuzzes the desktop loader's feed: any bytes as a PIC file, handed over in
// pieces whose sizes follow from the input's length, must give the
// whole-image reader's pixels, damage and words.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "desktop/picture_feed.h"

namespace {

void Check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "feed fault: %s\n", what);
        std::abort();
    }
}

class MemoryRows : public PictureRows {
public:
    std::vector<uint8_t> pixels;
    size_t rowBytes = 0;
    uint32_t height = 0;
    uint32_t updated = 0;

    Prepared Prepare(uint32_t width, uint32_t rows, bool alpha) override
    {
        rowBytes = size_t(width) * (alpha ? 4 : 3);
        height = rows;
        pixels.assign(rowBytes * rows, 0);
        return Prepared::Go;
    }
    uint8_t* Row(uint32_t y) override
    {
        Check(y < height, "row past the picture");
        return pixels.data() + y * rowBytes;
    }
    void Updated(uint32_t first, uint32_t count) override
    {
        Check(first == updated && count <= height - first, "rows reported out of order");
        updated += count;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint64_t maxPixels = 1 << 16;
    const PicImage image = ReadPicImageMemory(data, size, true, maxPixels);
    const size_t pieces[] = {1, 2, 3, 7, 104, 4096};
    const size_t piece = pieces[size % 6];
    MemoryRows rows;
    PictureFeed feed(rows, maxPixels);
    bool going = true;
    for (size_t at = 0; at < size && going; at += piece)
        going = feed.Add(data + at, std::min(piece, size - at));
    going = going && feed.Finish();

    PicImageFacts expected = image.facts;
    if (expected.status == PicImageStatus::Ok && expected.Pixels() == 0)
        expected.status = PicImageStatus::NoPixels;
    if (expected.status != PicImageStatus::Ok) {
        Check(!going && feed.Error() == PicStatusText(expected), "refused with other words");
        return 0;
    }
    Check(going, "no picture where the whole-image reader has one");
    Check(feed.Damage() == (expected.rows.damaged ? PicDamageText(expected) : ""),
          "damage differs");
    Check(rows.pixels.size() == image.PixelBytes() &&
              std::equal(rows.pixels.begin(), rows.pixels.end(), image.pixels.get()),
          "pixels differ");
    return 0;
}

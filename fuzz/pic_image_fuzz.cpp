// Fuzzes the whole-image reader (the Python package's imread): any bytes as
// a PIC file, decoded to pixels under a small pixel limit. The facts must be
// those of a check without pixels; a picture written back in either of our
// layouts must read back to the same pixels.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pic/pic_image.h"

namespace {

void Check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "image fault: %s\n", what);
        std::abort();
    }
}

struct MemoryOutput : PicOutput {
    std::vector<uint8_t> bytes;
    bool Put(const uint8_t* data, size_t count) override
    {
        bytes.insert(bytes.end(), data, data + count);
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint64_t maxPixels = 1 << 16;
    const PicImage image = ReadPicImageMemory(data, size, true, maxPixels);
    const PicImage checked = ReadPicImageMemory(data, size, false);
    if (image.facts.status == PicImageStatus::BadHeader) {
        Check(checked.facts.status == PicImageStatus::BadHeader, "header results differ");
        return 0;
    }
    if (image.facts.status == PicImageStatus::TooLarge) {
        Check(uint64_t(image.facts.width) * image.facts.height > maxPixels, "wrongly too large");
        return 0;
    }
    Check(image.facts.status == PicImageStatus::Ok && image.pixels != nullptr, "no pixels");
    const PicRowsCheck& a = image.facts.rows;
    const PicRowsCheck& b = checked.facts.rows;
    Check(a.damaged == b.damaged && a.rowsComplete == b.rowsComplete &&
              a.trailingBytes == b.trailingBytes && a.damage.row == b.damage.row &&
              a.damage.offset == b.damage.offset && a.damage.reason == b.damage.reason,
          "decoding and checking disagree");

    const uint32_t width = image.facts.width;
    const uint32_t height = image.facts.height;
    if (width > uint32_t(kPicMaxSide) || height > uint32_t(kPicMaxSide))
        return 0;
    const int channels = image.facts.Channels();
    for (const bool compressed : {false, true}) {
        PicWriteOptions options;
        options.compressed = compressed;
        std::memcpy(options.comment, image.facts.comment, sizeof options.comment);
        MemoryOutput output;
        Check(WritePicImage(output, image.pixels.get(), width, height, channels,
                            size_t(width) * size_t(channels), options) == PicWriteResult::Written,
              "write failed");
        const PicImage back = ReadPicImageMemory(output.bytes.data(), output.bytes.size(), true);
        // Rows of width 0 are written as no bytes at all, as the driver
        // writes them, and a run-length reader wants a packet per row.
        Check(back.facts.Whole() || (width == 0 && compressed), "written file not whole");
        Check(back.facts.rows.trailingBytes == 0, "bytes after the written rows");
        Check(back.facts.Channels() == channels && back.facts.width == width &&
                  back.facts.height == height,
              "written size differs");
        Check(std::memcmp(back.pixels.get(), image.pixels.get(), image.PixelBytes()) == 0,
              "written pixels differ");
    }
    return 0;
}

// Fuzzes the options block on every road it takes. Input: the 96-byte block
// (shorter inputs padded with zeros), then a picture: one byte width - 1
// (1..64), one byte height - 1 (1..4), then red, green, blue and alpha bytes
// for each pixel (zeros where the input ends).
//   - LoadOptions takes the block whole exactly when its signature matches,
//     and refuses it without any change otherwise.
//   - A taken block saves as the same bytes, and those load into another
//     driver and save again as the same bytes.
//   - The options dialog's seeding and storing (what ShowOptions does around
//     its modal run) keep signature, alphaCompressed and both flags, store the
//     comment's first 79 bytes and zeros after them, and give the same block
//     a second time.
//   - A frame written with the block loads back with the same pixels (alpha
//     only when withAlpha is 1), and the loading driver's options say what
//     the block asked for: only the value 1 sets a flag.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/pic_bitmap_io.h"
#include "fuzz/process_file.h"
#include "host/bmm_functions.h"
#include "ui/pic_options_dialog.h"

namespace {

void Check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "options fault: %s\n", what);
        std::abort();
    }
}

void CheckDialogRoundTrip(const PicOptions& loaded)
{
    PicOptionsDialog dialog;
    dialog.SeedFrom(loaded);
    PicOptions stored = loaded;
    dialog.StoreInto(stored);
    Check(stored.signature == loaded.signature && stored.alphaCompressed == loaded.alphaCompressed,
          "the dialog changed signature or alphaCompressed");
    Check(stored.withAlpha == loaded.withAlpha && stored.rgbCompressed == loaded.rgbCompressed,
          "the dialog changed a flag it was not asked to");
    const size_t length = std::find(loaded.comment, loaded.comment + 80, '\0') - loaded.comment;
    const size_t kept = std::min<size_t>(length, 79);
    Check(std::memcmp(stored.comment, loaded.comment, kept) == 0, "comment text not kept");
    for (size_t index = kept; index < sizeof stored.comment; ++index)
        Check(stored.comment[index] == '\0', "comment not followed by zero bytes");
    PicOptionsDialog again;
    again.SeedFrom(stored);
    PicOptions twice = stored;
    again.StoreInto(twice);
    Check(std::memcmp(&twice, &stored, sizeof stored) == 0, "a second seed and store differ");
}

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<BMM_Color_64> pixels;
};

Picture PictureOf(const uint8_t* data, size_t size)
{
    Picture picture;
    picture.width = 1 + (size > 0 ? data[0] % 64 : 0);
    picture.height = 1 + (size > 1 ? data[1] % 4 : 0);
    picture.pixels.resize(size_t(picture.width) * size_t(picture.height));
    size_t at = 2;
    const auto next = [&]() { return uint16_t(at < size ? data[at++] * 0x101 : 0); };
    for (BMM_Color_64& pixel : picture.pixels)
        pixel = {next(), next(), next(), next()};
    return picture;
}

void CheckFrameRoundTrip(const PicOptions& block, const Picture& picture)
{
    static const fuzz::ProcessFile frame("pic-options-fuzz");
    PicBitmapIO writer;
    Check(writer.LoadOptions(&block) == 1, "block refused a second time");
    BitmapManager manager;
    Bitmap bitmap(&manager);
    BitmapInfo size;
    size.SetWidth(uint16_t(picture.width));
    size.SetHeight(uint16_t(picture.height));
    BitmapStorage* storage = BMMCreateStorage(&manager, kStorage64);
    Check(storage != nullptr && storage->AllocatePixels(&size, nullptr, 1) != 0, "no storage");
    for (int y = 0; y < picture.height; ++y)
        storage->StoreRow(0, y, picture.width, picture.pixels.data() + size_t(y) * picture.width);
    bitmap.SetStorage(storage);
    BitmapInfo output;
    output.SetName(frame.Path());
    Check(writer.OpenForWrite(&output, &bitmap) == kResultSuccess, "OpenForWrite failed");
    Check(writer.WriteFrame(kSingleFrame) == kResultSuccess, "WriteFrame failed");

    PicBitmapIO reader;
    // Each layout field must be rewritten from the file.
    reader.options.withAlpha = reader.options.rgbCompressed = reader.options.alphaCompressed = 7;
    BitmapInfo input;
    input.SetName(frame.Path());
    Bitmap loadedBitmap(&manager);
    BMMRES status = 0xEEEE;
    BitmapStorage* loaded = reader.LoadImage(&input, &loadedBitmap, &status);
    Check(loaded != nullptr && status == kResultSuccess, "the written frame does not load");
    Check(loaded->Width() == picture.width && loaded->Height() == picture.height, "size changed");
    const bool withAlpha = block.withAlpha == 1;
    Check(reader.options.withAlpha == (withAlpha ? 1 : 0), "withAlpha read back wrong");
    Check(reader.options.rgbCompressed == (block.rgbCompressed == 1 ? 1 : 0),
          "rgbCompressed read back wrong");
    if (withAlpha)
        Check(reader.options.alphaCompressed == reader.options.rgbCompressed,
              "alphaCompressed read back wrong");
    Check(std::memchr(reader.header.comment, 0, sizeof reader.header.comment) != nullptr,
          "the header's comment has no zero byte");
    std::vector<BMM_Color_64> row(size_t(picture.width));
    for (int y = 0; y < picture.height; ++y) {
        loaded->FetchRow(0, y, picture.width, row.data());
        for (int x = 0; x < picture.width; ++x) {
            const BMM_Color_64& want = picture.pixels[size_t(y) * picture.width + x];
            const BMM_Color_64& got = row[size_t(x)];
            Check(got.r == (want.r & 0xFF00) && got.g == (want.g & 0xFF00) &&
                      got.b == (want.b & 0xFF00) && got.a == (withAlpha ? (want.a & 0xFF00) : 0),
                  "a pixel changed on its way through the file");
        }
    }
    loaded->Release(1);
    BMMClearReportedErrors();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PicOptions block;
    std::memset(&block, 0, sizeof block);
    std::memcpy(&block, data, std::min(size, sizeof block));

    PicBitmapIO driver;
    PicOptions before;
    driver.SaveOptions(&before);
    const int result = driver.LoadOptions(&block);
    PicOptions after;
    driver.SaveOptions(&after);
    if (block.signature != kPicOptionsSignature) {
        Check(result == 0 && std::memcmp(&after, &before, sizeof before) == 0,
              "a foreign block was taken or changed the options");
        return 0;
    }
    Check(result == 1 && std::memcmp(&after, &block, sizeof block) == 0, "a block not taken whole");
    PicBitmapIO other;
    PicOptions again;
    Check(other.LoadOptions(&after) == 1 && other.SaveOptions(&again) == 1 &&
              std::memcmp(&again, &block, sizeof block) == 0,
          "save, load, save changed the bytes");

    CheckDialogRoundTrip(after);
    const size_t rest = size > sizeof block ? size - sizeof block : 0;
    CheckFrameRoundTrip(block, PictureOf(data + sizeof block, rest));
    return 0;
}

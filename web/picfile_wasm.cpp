// picfile.wasm: the one whole-image reader built for WebAssembly, for
// picfile.mjs. Each call answers a WebPicture record in the module's memory,
// which picfile.mjs reads at the offsets below and then releases.
//
// This is the web's one adapter over pic/: a change in how pic/ reads
// touches this file alone. Its rules are the browser's own: pixels always
// RGBA (opaque when the file has no alpha), and no allocation that could
// fail part-way, since a failed allocation here cannot be caught and would
// end the call: the memory a decode needs is reserved before it starts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "pic/pic_image.h"

namespace {

struct Answer;

// The answer's record, as picfile.mjs reads it (wasm32: pointers are 4 bytes).
struct WebPicture {
    uint32_t headerRead;       //  0 1 when the facts below were read
    uint32_t width;            //  4
    uint32_t height;           //  8
    float aspect;              // 12 the header's pixel ratio as stored
    uint32_t alpha;            // 16 1 when some packet carries alpha
    uint32_t damaged;          // 20 1 when the rows are not whole
    uint32_t damageRow;        // 24 the first row that is not whole
    uint32_t damageOffsetLow;  // 28 where that row's data begins, low and
    uint32_t damageOffsetHigh; // 32 high 32 bits
    const char* error;         // 36 "" or pictool's words for why not
    const char* damage;        // 40 "" or "cut short in row 1 of 2 (offset 113)"
    const char* reason;        // 44 "" or "cut short", "run past row end", ...
    const char* packets;       // 48 "mixed RGB + mixed A"
    const char* comment;       // 52 the header's 80 comment bytes as stored
    uint8_t* rgba;             // 56 width * height * 4 bytes, or null
    Answer* owner;             // 60 what pic_web_release frees
};
static_assert(sizeof(void*) != 4 || sizeof(WebPicture) == 64, "picfile.mjs reads this layout");

// The record with the strings and pixels it points at.
struct Answer {
    WebPicture record{};
    std::string error, damage, packets;
    char comment[kPicCommentSize] = {};
    std::unique_ptr<uint8_t[]> rgba;
};

// Per pixel at most: the reader's RGB or RGBA, and the RGBA handed out.
constexpr uint64_t kBytesPerPixel = 3 + 4;
// Beyond the pixels: the reader's row buffers (9 bytes a pixel of a row of
// at most 65535, 17 when some packet is 16-bit) and the answer's strings.
constexpr uint64_t kSlackBytes = 2 << 20;

// Whether the memory a decode of `facts` needs can be had: reserved once and
// given back, so that the decode's own allocations find it.
bool CanReserve(const PicImageFacts& facts)
{
    const uint64_t bytes = facts.Pixels() * kBytesPerPixel + kSlackBytes;
    if (bytes > uint64_t(SIZE_MAX))
        return false;
    void* reserved = std::malloc(size_t(bytes));
    std::free(reserved);
    return reserved != nullptr;
}

// The facts of the header alone, as ReadPicImage finds them.
PicImageFacts HeaderFacts(const uint8_t* data, size_t size)
{
    PicByteSource source(data, size);
    return ReadPicImageHeader(source);
}

// Pixels as RGBA: RGB widened with alpha 255, RGBA as it is.
std::unique_ptr<uint8_t[]> Rgba(PicImage& image)
{
    if (image.facts.Channels() == 4)
        return std::move(image.pixels);
    const size_t pixels = size_t(image.facts.Pixels());
    std::unique_ptr<uint8_t[]> rgba(new uint8_t[4 * pixels + 1]);
    const uint8_t* rgb = image.pixels.get();
    // Four bytes at a time (WebAssembly is little-endian: the fourth byte is
    // the word's top one), all but the last pixel, whose word would reach
    // past the RGB bytes.
    size_t i = 0;
    for (; i + 1 < pixels; ++i) {
        uint32_t word;
        std::memcpy(&word, rgb + 3 * i, 4);
        word |= 0xFF000000u;
        std::memcpy(rgba.get() + 4 * i, &word, 4);
    }
    for (; i < pixels; ++i) {
        std::memcpy(rgba.get() + 4 * i, rgb + 3 * i, 3);
        rgba[4 * i + 3] = 255;
    }
    return rgba;
}

WebPicture* Finish(Answer* answer, const PicImageFacts& facts)
{
    WebPicture& record = answer->record;
    answer->error = PicStatusText(facts);
    if (facts.status != PicImageStatus::CannotOpen && facts.status != PicImageStatus::BadHeader) {
        record.headerRead = 1;
        record.width = facts.width;
        record.height = facts.height;
        record.aspect = facts.aspect;
        record.alpha = facts.Alpha() ? 1 : 0;
        std::memcpy(answer->comment, facts.comment, kPicCommentSize);
        answer->packets = PicPacketsText(facts.packets);
    }
    if (facts.rows.damaged) {
        record.damaged = 1;
        record.damageRow = facts.rows.damage.row;
        record.damageOffsetLow = uint32_t(facts.rows.damage.offset);
        record.damageOffsetHigh = uint32_t(facts.rows.damage.offset >> 32);
        answer->damage = PicDamageText(facts);
    }
    record.error = answer->error.c_str();
    record.damage = answer->damage.c_str();
    record.reason =
        PicRowStatusText(facts.rows.damaged ? facts.rows.damage.reason : PicRowStatus::Whole);
    record.packets = answer->packets.c_str();
    record.comment = answer->comment;
    record.rgba = answer->rgba.get();
    record.owner = answer;
    return &answer->record;
}

} // namespace

extern "C" {

// The header's facts, the rows not read; null when no memory is left.
__attribute__((used)) WebPicture* pic_web_info(const uint8_t* data, uint32_t size)
{
    Answer* answer = new (std::nothrow) Answer;
    if (answer == nullptr)
        return nullptr;
    return Finish(answer, HeaderFacts(data, size));
}

// The picture, with its facts and where any damage starts; pictures of
// more than `maxPixels` pixels are refused as too large, and of none as
// having no pixels. Null when no memory is left.
__attribute__((used)) WebPicture* pic_web_decode(const uint8_t* data, uint32_t size,
                                                 double maxPixels)
{
    Answer* answer = new (std::nothrow) Answer;
    if (answer == nullptr)
        return nullptr;
    const uint64_t limit = maxPixels >= 0x1p64 ? kPicNoPixelLimit : uint64_t(maxPixels);
    PicImageFacts facts = HeaderFacts(data, size);
    if (facts.status == PicImageStatus::Ok && facts.Pixels() == 0) {
        facts.status = PicImageStatus::NoPixels; // as pictool refuses to convert it
        return Finish(answer, facts);
    }
    if (facts.status == PicImageStatus::Ok && facts.Pixels() <= limit && !CanReserve(facts)) {
        facts.status = PicImageStatus::NoMemory;
        return Finish(answer, facts);
    }
    PicImage image = ReadPicImageMemory(data, size, true, limit);
    if (image.pixels != nullptr)
        answer->rgba = Rgba(image);
    return Finish(answer, image.facts);
}

__attribute__((used)) void pic_web_release(WebPicture* record)
{
    if (record != nullptr)
        delete record->owner;
}

} // extern "C"

#include "desktop/picture_feed.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "pic/byte_source.h"
#include "pic/pic_header.h"
#include "pic/pic_image.h"
#include "pic/pic_image_rows.h"

PictureFeed::PictureFeed(PictureRows& pictureRows, uint64_t pixelLimit)
    : rows(pictureRows), maxPixels(pixelLimit)
{
}

PictureFeed::~PictureFeed() = default;

bool PictureFeed::Add(const uint8_t* bytes, size_t count)
{
    if (stage == Stage::Failed)
        return false;
    if (stage == Stage::Ended)
        return true;
    try {
        pending.insert(pending.end(), bytes, bytes + count);
    } catch (const std::bad_alloc&) {
        return Fail(PicImageStatus::NoMemory);
    }
    // A row (or header) found short waits until the bytes it had have at
    // least doubled, so that a wide row arriving in small pieces is decoded
    // a few times, not once per piece.
    if (pending.size() < retryAt)
        return true;
    return Advance(false);
}

bool PictureFeed::Finish()
{
    if (stage == Stage::Header || stage == Stage::Rows)
        Advance(true);
    if (stage == Stage::Failed)
        return false;
    try {
        if (facts.rows.damaged && damage.empty())
            damage = PicDamageText(facts);
    } catch (const std::bad_alloc&) {
        return Fail(PicImageStatus::NoMemory);
    }
    return true;
}

bool PictureFeed::Advance(bool fileEnded)
{
    try {
        if (stage == Stage::Header)
            ReadHeader(fileEnded);
        if (stage == Stage::Rows)
            ReadRows(fileEnded);
    } catch (const std::bad_alloc&) {
        return Fail(PicImageStatus::NoMemory);
    }
    if (stage == Stage::Ended)
        pending = std::vector<uint8_t>(); // what follows the last row is not read
    return stage != Stage::Failed;
}

// Waits for more bytes while the header or its packets are cut short.
bool PictureFeed::ReadHeader(bool fileEnded)
{
    PicByteSource source(pending.data(), pending.size());
    facts = ReadPicImageHeader(source);
    const bool cutShort = facts.headerStatus == PicHeaderStatus::HeaderCutShort ||
                          facts.headerStatus == PicHeaderStatus::PacketsCutShort;
    if (cutShort && !fileEnded) {
        retryAt = pending.size() + 1;
        return true;
    }
    if (facts.status == PicImageStatus::BadHeader)
        return Fail(PicImageStatus::BadHeader);
    if (facts.Pixels() == 0)
        return Fail(PicImageStatus::NoPixels);
    if (facts.Pixels() > maxPixels)
        return Fail(PicImageStatus::TooLarge);
    decoder.reset(new PicImageRows(facts.packets, facts.width, facts.Channels()));
    consumed = source.Position();
    pending.erase(pending.begin(), pending.begin() + long(consumed));
    retryAt = 0;
    switch (rows.Prepare(facts.width, facts.height, facts.Alpha())) {
    case PictureRows::Prepared::Go:
        stage = Stage::Rows;
        break;
    case PictureRows::Prepared::Stop:
        stage = Stage::Ended;
        break;
    case PictureRows::Prepared::NoMemory:
        return Fail(PicImageStatus::NoMemory);
    }
    return true;
}

// Decodes every row whose bytes are all there; with the file ended, every
// row, as the whole-image reader does.
void PictureFeed::ReadRows(bool fileEnded)
{
    PicByteSource source(pending.data(), pending.size());
    const uint32_t firstRow = nextRow;
    size_t rowStart = 0;
    while (nextRow < facts.height) {
        rowStart = size_t(source.Position());
        const PicRowStatus status = decoder->Decode(source, rows.Row(nextRow));
        if (source.WentShort() && !fileEnded) {
            const size_t have = pending.size() - rowStart;
            retryAt = std::max(2 * have, have + 1);
            break;
        }
        const bool goesOn =
            NotePicImageRow(facts.rows, nextRow, consumed + rowStart, status, source.WentShort());
        if (!goesOn) {
            stage = Stage::Ended; // this row and the rest stay 0
            break;
        }
        rowStart = size_t(source.Position());
        ++nextRow;
    }
    if (nextRow == facts.height)
        stage = Stage::Ended;
    pending.erase(pending.begin(), pending.begin() + long(rowStart));
    consumed += rowStart;
    if (nextRow > firstRow)
        rows.Updated(firstRow, nextRow - firstRow);
}

bool PictureFeed::Fail(PicImageStatus status)
{
    facts.status = status;
    try {
        error = PicStatusText(facts);
    } catch (const std::bad_alloc&) {
        facts.status = PicImageStatus::NoMemory;
        error = "out of memory"; // short enough to need no allocation
    }
    stage = Stage::Failed;
    pending = std::vector<uint8_t>();
    decoder.reset();
    return false;
}

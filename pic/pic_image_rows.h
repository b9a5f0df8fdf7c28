// PicImageRows: a PIC file's rows as interleaved pixels, one row at a time,
// each with what it says about damage. ReadPicImage keeps every row this
// way; a reader that is handed a file a piece at a time (a desktop image
// loader) calls it as the bytes arrive and gets the same pixels and the same
// damage.
//
// Pixels are RGB, or RGBA when some packet carries alpha (the caller says
// which, as PicImageFacts does); a channel no packet carries reads as 0.
// Rows come 8 bits a channel, a 16-bit value rounded (RoundTo8Bits), or 16
// bits a channel, an 8-bit value v as v * 257 (so that rounding gives v
// back).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pic/byte_source.h"
#include "pic/pic_header.h"
#include "pic/pic_row_reader.h"

class PicImageRows {
public:
    // `packets` as ReadPicHeader gives them, `width` up to 65535, `channels`
    // as PicImageFacts::Channels() says for them. Allocates about 9 bytes per
    // pixel of one row, 17 when some packet is 16-bit (may throw
    // std::bad_alloc).
    PicImageRows(const std::vector<PicChannelPacket>& packets, uint32_t width, int channels);

    int Channels() const { return channels; }
    size_t RowBytes() const { return size_t(reader.Width()) * size_t(channels); }

    // Decodes the next row from `source` into `out` (width * Channels()
    // values), clearing the source's WentShort first, so that afterwards it
    // tells whether a byte of this row was missing. A row whose status is
    // Whole is stored, bytes past the end of the file as 255; any other
    // leaves `out` as it was.
    PicRowStatus Decode(PicByteSource& source, uint8_t* out);
    PicRowStatus Decode(PicByteSource& source, uint16_t* out);

private:
    PicRowStatus Read(PicByteSource& source);

    PicRowReader reader;
    int channels;
    std::unique_ptr<uint8_t[]> zeros; // stands in for a channel no packet carries
};

// Notes in `check` what row `y`, whose data began at `offset`, came to:
// `status` and `wentShort` as Decode left them. Answers whether the picture
// goes on: a run-length row that does not decode ends it (that row and the
// rest stay 0), while a row cut short in raw bytes is kept and the rows go
// on. Only the first damage is noted.
bool NotePicImageRow(PicRowsCheck& check, uint32_t y, uint64_t offset, PicRowStatus status,
                     bool wentShort);

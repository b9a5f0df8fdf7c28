// PictureFeed: a PIC file read as its bytes arrive, for the desktop's image
// loader (gdk-pixbuf hands a loader a file a piece at a time, and shows the
// rows it has while the rest comes). A row is decoded as soon as all of its
// bytes are there, into rows the loader owns; the picture and its damage
// come out as the whole-image reader gives them: 8-bit RGB, or RGBA when some
// packet carries alpha, and the same words as pictool's.
//
// This is the desktop's one adapter over pic/: the loader knows only this
// header, so a change in how pic/ reads touches this file alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pic/pic_image.h"

class PicImageRows;

// What the loader gives the feed: the picture's rows.
class PictureRows {
public:
    enum class Prepared {
        Go,       // rows are ready, every byte 0
        Stop,     // the caller wants the size alone: read no further
        NoMemory, // the picture could not be made
    };
    virtual ~PictureRows() = default;
    // The header is read: make a picture of width x height, RGBA when
    // `alpha`, else RGB (both sides 1 to 65535, within the pixel limit).
    virtual Prepared Prepare(uint32_t width, uint32_t height, bool alpha) = 0;
    // Row y's width * (alpha ? 4 : 3) bytes.
    virtual uint8_t* Row(uint32_t y) = 0;
    // Rows [first, first + count) hold their final pixels.
    virtual void Updated(uint32_t first, uint32_t count) = 0;
};

class PictureFeed {
public:
    // Pictures of more than `maxPixels` pixels are refused before anything
    // is allocated for them.
    PictureFeed(PictureRows& rows, uint64_t maxPixels);
    ~PictureFeed();
    PictureFeed(const PictureFeed&) = delete;
    PictureFeed& operator=(const PictureFeed&) = delete;

    // The next `count` bytes of the file. False when no picture can come of
    // the file (not a PIC file, too large, no memory): Error() says why.
    // Bytes after the last row, or after the caller said Stop, are ignored.
    bool Add(const uint8_t* bytes, size_t count);

    // The file ends here: rows still short of bytes are decoded as the
    // whole-image reader decodes them. False when there is no picture
    // (Error() says why); true otherwise, with Damage() saying where a
    // partial picture's damage starts ("" when it is whole).
    bool Finish();

    const std::string& Error() const { return error; }
    bool NoMemory() const { return facts.status == PicImageStatus::NoMemory; }
    // "" or "cut short in row 17 of 1080 (offset 48213)"; allocates nothing
    // once Finish has answered.
    const std::string& Damage() const { return damage; }

private:
    enum class Stage { Header, Rows, Ended, Failed };

    bool Advance(bool fileEnded);
    bool ReadHeader(bool fileEnded);
    void ReadRows(bool fileEnded);
    bool Fail(PicImageStatus status);

    PictureRows& rows;
    uint64_t maxPixels;
    Stage stage = Stage::Header;
    PicImageFacts facts;
    std::unique_ptr<PicImageRows> decoder;
    std::vector<uint8_t> pending; // the file's bytes from offset `consumed` on
    uint64_t consumed = 0;
    size_t retryAt = 0; // how many pending bytes make a short row worth trying again
    uint32_t nextRow = 0;
    std::string error;
    std::string damage;
};

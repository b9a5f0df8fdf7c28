// Whether a PIC file is whole, read once and through pic/ alone (no
// plug-in, no host storage): its header facts, its packets and bits a
// channel, and "ok" or the first row that is not whole, with where its data
// begins and why; asked to salvage, what rows after the damage were found
// again and what is lost (a salvaged file is still damaged). One
// record per file, and its line: JSON for programs, text for people. The
// same for every front end that checks files.
#pragma once

#include <string>

#include "host/host_api.h"
#include "pic/pic_image.h"

struct PicCheck {
    PicImageFacts facts;
    BMMRES result = kResultSuccess; // the driver's code for the same failure, else 0
    std::string error;              // why the file was not read, in words; "" when it was
    bool salvageAsked = false;      // the rows after damage were looked for
    bool Whole() const { return error.empty() && facts.Whole(); }
};

// Reads `path` ("-" is standard input) once and checks it; with `salvage`,
// looks for the rows after a run-length row that does not decode.
PicCheck CheckPicFile(const std::string& path, bool salvage = false);
// Checks a file's bytes already in memory (`data`, `size`), `trailing`
// more bytes having followed them unread.
PicCheck CheckPicBytes(const uint8_t* data, size_t size, uint64_t trailing = 0,
                       bool salvage = false);

// {"file", "result", and "error", or "width", "height", "packets", "bits",
// "rowsComplete", "damage", "trailingBytes", and "salvage" when asked for
// (PicSalvageJson)}, one line without its newline.
std::string CheckJsonLine(const std::string& file, const PicCheck& check);
// "shot.pic: 1920 x 1080, 8-bit, mixed RGB + mixed A: ok", and what salvage
// did after a damaged row's words ("; salvaged: rows 17-20 lost, ..."),
// without its newline.
std::string CheckTextLine(const std::string& file, const PicCheck& check);

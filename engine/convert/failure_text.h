// What went wrong with a PIC input, in a person's words, the same in every
// command and front end, told from what is in hand: pic/'s status for the
// bytes read, those bytes (a file that is no PIC file is named by the format
// its first bytes show), or the system's errno. Nothing is opened or read
// again to find out. And the host's result codes for the same failures.
#pragma once

#include <string>

#include "engine/convert/pic_input.h"
#include "host/host_api.h"
#include "pic/pic_image.h"

// "not a PIC file (a PNG image)", or "not a PIC file" when the first
// `count` bytes show no format we know; with `loading`, an image of
// another format is "input is a PNG; the output must be .pic".
std::string NotPicText(const uint8_t* head, size_t count, bool loading);

// Why `facts`, read from `head`'s bytes, are not a readable PIC file:
// PicStatusText, with another format's file named by its format.
std::string PicFactsFailureText(const PicImageFacts& facts, const uint8_t* head, size_t count);

// Why a PIC input that was read does not load: its header status as pic/
// reads it ("file ends inside the header", "not a PIC file (a PNG
// image)"); "not a PIC file (its header is not understood)" when pic/ reads
// it and a loader still refused it.
std::string PicLoadFailureText(const PicInput& input, const PicImageFacts& facts);

// Why an input could not be opened or read: the system's words
// ("no such file or directory", "input/output error", "is a directory").
std::string PicInputFailureText(const PicInput& input);

// {"row": R, "offset": O, "reason": "..."} for damaged rows, else null.
std::string PicDamageJson(const PicImageFacts& facts);
// {"lostRows": [[first, last], ...], "recoveredRows": N} for rows that were
// salvaged (facts.salvaged), else null.
std::string PicSalvageJson(const PicImageFacts& facts);

// The result code of a check: 0 for a header that reads (damaged or not),
// the driver's codes for the same failures otherwise (13 bad header or no
// pixels, 3 out of memory).
BMMRES PicCheckResult(const PicImageFacts& facts);

// What a frame that no memory could be had for says.
constexpr const char* kNoFrameMemoryText = "no storage for the image (out of memory)";

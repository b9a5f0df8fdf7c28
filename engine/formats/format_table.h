// The format table: every image format this build of pictool knows, one
// entry each, PIC first. Names for --to, the help text and the words of
// errors are all read from it.
#pragma once

#include <string>
#include <vector>

#include "engine/formats/image_format.h"

class ImageInput;

const std::vector<const ImageFormat*>& ImageFormats();

// PIC's entry: read and written by the plug-in, not by a reader or writer here.
const ImageFormat& PicFormat();

// The format an input's first bytes show; null when none does.
const ImageFormat* FormatOfInput(const ImageInput& input);
const ImageFormat* FormatOfHead(const uint8_t* head, size_t count);
// The writable format a name's extension (case ignored) or a --to word asks
// for; null when none.
const ImageFormat* OutputFormatOfName(const std::string& path);
const ImageFormat* OutputFormatOfWord(const std::string& word);

// "PNG, JPEG, PAM or PGM/PPM": the names of the formats read (other than
// PIC), or written (PIC included), joined for a message.
std::string ReadFormatNames();
// ".pic, .png or .pam" or, with `dots` false, "pic, png or pam": the --to
// words of the formats written.
std::string OutputWords(bool dots);
// The formats whose writers take --depth, joined: "PNG, PAM or TIFF".
std::string SixteenBitFormatNames();
// "a PNG", "an EXR": the format's name with its article.
std::string NameWithArticle(const ImageFormat& format);
// The written formats whose row sets `flag`, joined: "JPEG".
std::string FormatNamesWith(bool ImageFormat::*flag);
// One help line per format: its name, extensions, and what is read and written.
std::string FormatHelpLines();

// Text as bytes that are usually UTF-8: where a character starts and ends,
// so that text is passed on whole and cut only between characters.
#pragma once

#include <cstddef>
#include <string>

// The length of the well-formed UTF-8 character at the start of `bytes`
// (1 to 4), or 0 when the bytes there are not one (a stray continuation
// byte, an overlong form, a surrogate, a character cut off by `available`).
size_t Utf8CharacterLength(const char* bytes, size_t available);

// The longest start of `text` of at most `maxBytes` bytes that does not end
// inside a UTF-8 character. Bytes that are not UTF-8 count as one character each.
size_t Utf8CutLength(const std::string& text, size_t maxBytes);

// The number of characters in the first `length` bytes, counted as above.
size_t Utf8CharacterCount(const std::string& text, size_t length);

// True when the whole of `text` is well-formed UTF-8.
bool IsUtf8(const std::string& text);

// Latin-1 text (PNG's tEXt and zTXt) as UTF-8: text that is already UTF-8
// is kept as it is, since writers put UTF-8 there too.
std::string Latin1AsUtf8(const std::string& text);

// UTF-8 text as Latin-1, for tEXt: false when a character is past U+00FF
// (or the text is not UTF-8 at all: its bytes are then taken as Latin-1).
bool Utf8AsLatin1(const std::string& text, std::string& latin1);

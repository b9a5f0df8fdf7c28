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

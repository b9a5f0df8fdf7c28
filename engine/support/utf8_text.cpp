#include "engine/support/utf8_text.h"

size_t Utf8CharacterLength(const char* bytes, size_t available)
{
    if (available == 0)
        return 0;
    const auto byte = [&](size_t index) { return static_cast<unsigned char>(bytes[index]); };
    const unsigned lead = byte(0);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (available < length || byte(1) < low || byte(1) > high)
        return 0;
    for (size_t index = 2; index < length; ++index)
        if (byte(index) < 0x80 || byte(index) > 0xBF)
            return 0;
    return length;
}

size_t Utf8CutLength(const std::string& text, size_t maxBytes)
{
    size_t at = 0;
    while (at < text.size()) {
        const size_t length = Utf8CharacterLength(text.data() + at, text.size() - at);
        const size_t step = length == 0 ? 1 : length;
        if (at + step > maxBytes)
            break;
        at += step;
    }
    return at;
}

size_t Utf8CharacterCount(const std::string& text, size_t length)
{
    size_t count = 0;
    for (size_t at = 0; at < length && at < text.size(); ++count) {
        const size_t step = Utf8CharacterLength(text.data() + at, text.size() - at);
        at += step == 0 ? 1 : step;
    }
    return count;
}

bool IsUtf8(const std::string& text)
{
    for (size_t at = 0; at < text.size();) {
        const size_t step = Utf8CharacterLength(text.data() + at, text.size() - at);
        if (step == 0)
            return false;
        at += step;
    }
    return true;
}

std::string Latin1AsUtf8(const std::string& text)
{
    if (IsUtf8(text))
        return text;
    std::string utf8;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += char(0xC0 | (byte >> 6));
            utf8 += char(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

bool Utf8AsLatin1(const std::string& text, std::string& latin1)
{
    latin1.clear();
    if (!IsUtf8(text)) {
        latin1 = text;
        return true;
    }
    for (size_t at = 0; at < text.size(); ++at) {
        const auto lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x80) {
            latin1 += text[at];
        } else if (lead == 0xC2 || lead == 0xC3) { // U+0080 to U+00FF
            latin1 += char(((lead & 0x03) << 6) | (static_cast<unsigned char>(text[++at]) & 0x3F));
        } else {
            return false;
        }
    }
    return true;
}

#include "tools/pictool/convert/frame_pattern.h"

namespace {

// The conversion that starts at text[at] == '%' (not "%%"): its length, or 0
// when it is not one we accept.
size_t ConversionLength(const std::string& text, size_t at, bool& zeroPad, int& width)
{
    size_t next = at + 1;
    zeroPad = false;
    width = 0;
    if (next < text.size() && text[next] == '0') {
        zeroPad = true;
        ++next;
    }
    if (next < text.size() && text[next] >= '1' && text[next] <= '9') {
        width = text[next] - '0';
        ++next;
    }
    if (zeroPad && width == 0)
        return 0;
    if (next >= text.size() || text[next] != 'd')
        return 0;
    return next + 1 - at;
}

// Decimal digits only, at most 9 of them, so no overflow.
bool ParseFrameNumber(const std::string& text, int& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    int number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    value = number;
    return true;
}

} // namespace

bool ParseFramePattern(const std::string& text, FramePattern& pattern, std::string& error)
{
    FramePattern parsed;
    int conversions = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        std::string& side = conversions ? parsed.suffix : parsed.prefix;
        if (text[i] != '%') {
            side += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            side += '%';
            ++i;
            continue;
        }
        const size_t length = ConversionLength(text, i, parsed.zeroPad, parsed.minimumWidth);
        if (length == 0) {
            error = "'" + text + "': only %d, %Nd or %0Nd (N from 1 to 9) may number frames";
            return false;
        }
        if (++conversions > 1) {
            error = "'" + text + "' has more than one frame number";
            return false;
        }
        i += length - 1;
    }
    if (conversions == 0) {
        error = "'" + text + "' has no frame number such as %04d";
        return false;
    }
    pattern = parsed;
    return true;
}

std::string FrameName(const FramePattern& pattern, int frame)
{
    std::string digits = std::to_string(frame);
    if (int(digits.size()) < pattern.minimumWidth)
        digits.insert(0, size_t(pattern.minimumWidth) - digits.size(), pattern.zeroPad ? '0' : ' ');
    return pattern.prefix + digits + pattern.suffix;
}

bool ParseFrameRange(const std::string& text, FrameRange& range, std::string& error)
{
    const size_t dash = text.find('-');
    FrameRange parsed;
    const bool numbers =
        dash == std::string::npos
            ? ParseFrameNumber(text, parsed.first) && ParseFrameNumber(text, parsed.last)
            : ParseFrameNumber(text.substr(0, dash), parsed.first) &&
                  ParseFrameNumber(text.substr(dash + 1), parsed.last);
    if (!numbers || parsed.first > parsed.last || parsed.last > kMaxFrameNumber) {
        error = "--frames '" + text +
                "': give FIRST-LAST with 0 <= FIRST <= LAST <= " + std::to_string(kMaxFrameNumber);
        return false;
    }
    range = parsed;
    return true;
}

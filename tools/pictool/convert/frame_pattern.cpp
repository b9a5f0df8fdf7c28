#include "tools/pictool/convert/frame_pattern.h"

#include <algorithm>
#include <cstdint>
#include <utility>

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

namespace {

// One part of a frame list: "N", "A-B" or "A-BxS". False with the reason.
bool ParseFramePart(const std::string& part, int& first, int& last, int& step, std::string& why)
{
    const size_t dash = part.find('-');
    const size_t times = part.find('x');
    step = 1;
    bool numbers = false;
    if (dash == std::string::npos) {
        numbers = times == std::string::npos && ParseFrameNumber(part, first);
        last = first;
    } else {
        const std::string end = part.substr(
            dash + 1, times == std::string::npos ? std::string::npos : times - dash - 1);
        numbers = (times == std::string::npos || times > dash) &&
                  ParseFrameNumber(part.substr(0, dash), first) && ParseFrameNumber(end, last) &&
                  (times == std::string::npos || ParseFrameNumber(part.substr(times + 1), step));
    }
    if (!numbers)
        why = "give FIRST-LAST, FIRST-LASTxSTEP or N, comma-separated (such as 1-100, 1-100x4, "
              "1,5,10-20)";
    else if (first > kMaxFrameNumber || last > kMaxFrameNumber)
        why = "frames go from 0 to " + std::to_string(kMaxFrameNumber);
    else if (step == 0)
        why = "the step after 'x' is 1 or more";
    else if (first > last)
        why = "'" + part + "' lists no frame (" + std::to_string(first) + " is above " +
              std::to_string(last) + ")";
    return why.empty();
}

} // namespace

bool ParseFrameRange(const std::string& text, FrameRange& range, std::string& error)
{
    FrameRange parsed;
    // Which frames are listed already: one bit each, 12.5 MB at most.
    std::vector<bool> listed;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        int first = 0, last = 0, step = 1;
        std::string why;
        if (!ParseFramePart(part, first, last, step, why)) {
            error = "--frames '" + text + "': " + why;
            return false;
        }
        if (listed.size() <= size_t(last))
            listed.resize(size_t(last) + 1);
        // In 64 bits: a step may carry the frame past the largest int.
        for (int64_t frame = first; frame <= last; frame += step) {
            if (listed[size_t(frame)])
                continue;
            listed[size_t(frame)] = true;
            parsed.frames.push_back(int(frame));
            parsed.largest = std::max(parsed.largest, int(frame));
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    range = std::move(parsed);
    return true;
}

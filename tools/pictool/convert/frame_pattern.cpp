#include "tools/pictool/convert/frame_pattern.h"

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

// A run of '#' (4 digits each) and '@' (1 digit each) at text[at]: its length.
size_t HashRunLength(const std::string& text, size_t at, int& width)
{
    size_t next = at;
    width = 0;
    for (; next < text.size() && (text[next] == '#' || text[next] == '@'); ++next)
        width += text[next] == '#' ? 4 : 1;
    return next - at;
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
    int numbers = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        std::string& side = numbers ? parsed.suffix : parsed.prefix;
        size_t length = 1;
        if (text[i] == '#' || text[i] == '@') {
            length = HashRunLength(text, i, parsed.minimumWidth);
            parsed.zeroPad = true;
        } else if (text[i] != '%') {
            side += text[i];
            continue;
        } else if (i + 1 < text.size() && text[i + 1] == '%') {
            side += '%';
            ++i;
            continue;
        } else if ((length = ConversionLength(text, i, parsed.zeroPad, parsed.minimumWidth)) == 0) {
            error = "'" + text + "': only %d, %Nd or %0Nd (N from 1 to 9) may number frames";
            return false;
        }
        if (++numbers > 1) {
            error = "'" + text + "' has more than one frame number";
            return false;
        }
        i += length - 1;
    }
    if (numbers == 0) {
        error = "'" + text + "' has no frame number such as %04d or ####";
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

bool FrameSpan::Holds(int frame) const
{
    const bool down = first > last;
    if (down ? (frame > first || frame < last) : (frame < first || frame > last))
        return false;
    const bool stepped = (down ? first - frame : frame - first) % step == 0;
    return stepped != skip;
}

namespace {

// One part of a frame list: "N", "A-B", "A-BxS" or "A-ByS". False with the reason.
bool ParseFramePart(const std::string& part, FrameSpan& span, std::string& why)
{
    const size_t dash = part.find('-');
    const size_t times = part.find_first_of("xy");
    bool numbers = false;
    if (dash == std::string::npos) {
        numbers = times == std::string::npos && ParseFrameNumber(part, span.first);
        span.last = span.first;
    } else {
        const std::string end = part.substr(
            dash + 1, times == std::string::npos ? std::string::npos : times - dash - 1);
        numbers =
            (times == std::string::npos || times > dash) &&
            ParseFrameNumber(part.substr(0, dash), span.first) &&
            ParseFrameNumber(end, span.last) &&
            (times == std::string::npos || ParseFrameNumber(part.substr(times + 1), span.step));
        span.skip = times != std::string::npos && part[times] == 'y';
    }
    if (!numbers)
        why = "give FIRST-LAST, FIRST-LASTxSTEP, FIRST-LASTySTEP or N, comma-separated (such as "
              "1-100, 1-100x4, 10-1, 1,5,10-20)";
    else if (span.first > kMaxFrameNumber || span.last > kMaxFrameNumber)
        why = "frames go from 0 to " + std::to_string(kMaxFrameNumber);
    else if (span.step == 0)
        why = std::string("the step after '") + part[times] + "' is 1 or more";
    else if (span.skip && (span.step == 1 || span.first == span.last))
        why = "'" + part + "' lists no frame (" + part.substr(times) + " leaves none)";
    return why.empty();
}

} // namespace

bool ParseFrameList(const std::string& text, FrameList& list, std::string& error)
{
    FrameList parsed;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        FrameSpan span;
        std::string why;
        if (!ParseFramePart(part, span, why)) {
            error = why;
            return false;
        }
        parsed.spans.push_back(span);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    list = std::move(parsed);
    return true;
}

uint64_t FrameList::Count() const
{
    uint64_t count = 0;
    FrameCursor cursor(*this);
    for (int frame = 0; cursor.Next(frame);)
        ++count;
    return count;
}

bool FrameCursor::Next(int& frame)
{
    while (span < list.spans.size()) {
        const FrameSpan& part = list.spans[span];
        const int64_t direction = part.first <= part.last ? 1 : -1;
        // In 64 bits: a step may carry the frame past the largest int.
        at = fresh ? part.first : at + direction * (part.skip ? 1 : part.step);
        fresh = false;
        if (direction * at > direction * part.last) {
            ++span;
            fresh = true;
            continue;
        }
        if (!part.Holds(int(at)))
            continue;
        bool earlier = false;
        for (size_t before = 0; before < span && !earlier; ++before)
            earlier = list.spans[before].Holds(int(at));
        if (!earlier) {
            frame = int(at);
            return true;
        }
    }
    return false;
}

void FrameRuns::Add(int frame)
{
    ++count;
    if (!runs.empty()) {
        Run& run = runs.back();
        const int step = frame - run.last;
        if (run.step == 0 && step != 0) {
            run.step = step;
            run.last = frame;
            return;
        }
        if (step == run.step) {
            run.last = frame;
            return;
        }
        // A run of two is two frames: the second may start the next run.
        if (run.last - run.first == run.step) {
            const Run second{run.last, frame, step};
            run.last = run.first;
            run.step = 0;
            runs.push_back(second);
            return;
        }
    }
    runs.push_back(Run{frame, frame, 0});
}

std::string FrameRuns::Text() const
{
    std::string text;
    for (const Run& run : runs) {
        if (!text.empty())
            text += ',';
        text += std::to_string(run.first);
        if (run.step == 0)
            continue;
        const int step = run.step < 0 ? -run.step : run.step;
        if (run.last - run.first == run.step) // two frames
            text += "," + std::to_string(run.last);
        else
            text += "-" + std::to_string(run.last) + (step == 1 ? "" : "x" + std::to_string(step));
    }
    return text;
}

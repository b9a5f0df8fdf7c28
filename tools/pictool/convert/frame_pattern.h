// Numbered file names for sequences: a user's name pattern such as
// "in%04d.png" and a frame range such as "1-100". The pattern is parsed here
// and formatted by us; user text never reaches printf as a format.
#pragma once

#include <string>

struct FramePattern {
    std::string prefix; // text before the conversion, "%%" already made '%'
    std::string suffix; // text after it, likewise
    bool zeroPad = false;
    int minimumWidth = 0; // 0 to 9
};

// Accepts exactly one conversion of the form %d, %Nd or %0Nd (N one digit,
// 1 to 9); "%%" stands for a '%' anywhere. False with a message for no
// conversion, two, or any other use of '%'.
bool ParseFramePattern(const std::string& text, FramePattern& pattern, std::string& error);

// The name of frame `frame` (not negative).
std::string FrameName(const FramePattern& pattern, int frame);

struct FrameRange {
    int first = 0;
    int last = 0;
    int Count() const { return last - first + 1; }
};

// Largest frame number accepted in a range.
constexpr int kMaxFrameNumber = 99999999;

// "A-B" with 0 <= A <= B <= kMaxFrameNumber, or a single "N" (A = B = N).
bool ParseFrameRange(const std::string& text, FrameRange& range, std::string& error);

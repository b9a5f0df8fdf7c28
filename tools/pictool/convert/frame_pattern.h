// Numbered file names for sequences: a user's name pattern such as
// "in%04d.png" and a frame list such as "1-100x2,200". The pattern is parsed here
// and formatted by us; user text never reaches printf as a format.
#pragma once

#include <string>
#include <vector>

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

// The frames --frames lists, in the order given, each once.
struct FrameRange {
    std::vector<int> frames;
    int largest = 0;
};

// Largest frame number accepted in a range.
constexpr int kMaxFrameNumber = 99999999;

// Comma-separated parts, each "N", "A-B" or "A-BxS" (every S-th frame from
// A up to B), as oiiotool takes them: "1-100", "1-100x4", "1,5,10-20".
// Every number from 0 to kMaxFrameNumber, A <= B, S >= 1. A frame listed
// twice is converted once. False with a message for anything else,
// including a list that names no frame.
bool ParseFrameRange(const std::string& text, FrameRange& range, std::string& error);

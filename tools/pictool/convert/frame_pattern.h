// Numbered file names for sequences: a user's name pattern such as
// "in%04d.png" or "in.#.png" and a frame list such as "1-100x2,200", as
// oiiotool takes them. The pattern is parsed here and formatted by us; user
// text never reaches printf as a format. A list is kept as its ranges, so
// that it costs memory by its parts, not by its frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct FramePattern {
    std::string prefix; // text before the frame number, "%%" already made '%'
    std::string suffix; // text after it, likewise
    bool zeroPad = false;
    int minimumWidth = 0;
};

// Accepts exactly one frame number: %d, %Nd or %0Nd (N from 1 to 9), or a
// run of '#' (four digits each) and '@' (one digit each), zero-padded;
// "%%" stands for a '%' anywhere. False with a message for no frame
// number, two, or any other use of '%'.
bool ParseFramePattern(const std::string& text, FramePattern& pattern, std::string& error);

// The name of frame `frame` (not negative).
std::string FrameName(const FramePattern& pattern, int frame);

// One part of a list: first to last (down when first > last), every
// step-th frame, or with `skip` every frame but those.
struct FrameSpan {
    int first = 0;
    int last = 0;
    int step = 1;
    bool skip = false; // "y": the frames "x" would leave out

    bool Holds(int frame) const;
};

// The frames --frames lists, in the order given, each once.
struct FrameList {
    std::vector<FrameSpan> spans;

    // How many frames, each counted once.
    uint64_t Count() const;
};

// The frames of a list one after another, each once, in the order given.
class FrameCursor {
public:
    explicit FrameCursor(const FrameList& frames) : list(frames) {}
    // The next frame; false after the last.
    bool Next(int& frame);

private:
    const FrameList& list;
    size_t span = 0;
    int64_t at = 0;
    bool fresh = true; // `at` is not yet in the span
};

// Largest frame number accepted in a range.
constexpr int kMaxFrameNumber = 99999999;

// Comma-separated parts, each "N", "A-B", "A-BxS" (every S-th frame from A
// towards B) or "A-ByS" (all but those), as oiiotool takes them: "1-100",
// "1-100x4", "10-1x3", "1,5,10-20". Every number from 0 to kMaxFrameNumber,
// S >= 1. False with the reason for anything else, including a part that
// names no frame.
bool ParseFrameList(const std::string& text, FrameList& list, std::string& error);

// Frames in list order, as oiiotool would list them: "3-7", "10-1x3", "5".
// Runs of at least three frames a step apart become ranges.
class FrameRuns {
public:
    void Add(int frame);
    std::string Text() const;
    uint64_t Count() const { return count; }

private:
    struct Run {
        int first;
        int last;
        int step; // signed; 0 for a run of one frame
    };
    std::vector<Run> runs;
    uint64_t count = 0;
};

// What `pictool convert`'s command line asked for, once parsed and checked
// (commands/convert_options.cpp): the engine's job for each frame, the
// names or name patterns and frames of a sequence, and pictool's own
// settings.
#pragma once

#include <string>

#include "engine/convert/convert_job.h"
#include "tools/pictool/convert/frame_pattern.h"

struct ConvertRequest {
    ConvertJob job; // what each frame is asked
    std::string input;
    std::string output;

    // A sequence: input (and output, when it holds a frame number) are name
    // patterns. A plain PIC output name is numbered by the driver.
    bool sequence = false;
    std::string framesText;
    FrameList frames;
    FramePattern inputPattern;
    bool outputNumbered = false;
    FramePattern outputPattern;

    std::string optionsPath;     // --options
    std::string saveOptionsPath; // --save-options
    int jobs = 0;                // 0: one per core
    bool json = false;
    bool quiet = false;

    // As given, checked once the output's format is known.
    std::string to;
    std::string depth;
    bool hostPixels = false;
};

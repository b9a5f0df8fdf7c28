// The JSON summary of a conversion run (pictool convert --json): one
// object for all its frames, from their tasks and outcomes.
#pragma once

#include <string>
#include <vector>

#include "engine/convert/convert_job.h"

struct ConvertRun {
    bool sequence = false; // frames carry numbers
    std::vector<FrameTask> tasks;
    std::vector<FrameOutcome> outcomes; // one per task
    std::vector<std::string> skipped;   // outputs kept before any frame started
    std::string runError;               // a failure of the run itself (its options file)
    // Frames whose input does not exist, as a frame list ("3-7,12"), how
    // many, and the error they make when nothing else failed.
    std::string missing;
    uint64_t missingFrames = 0;
    std::string missingError;
    bool failed = false; // the run's exit status is not 0
};

// Whether a frame fails its run: it failed, or its PIC input is damaged
// and the job does not allow that.
bool OutcomeFails(const FrameOutcome& outcome, const ConvertJob& job);

// status, ok, error (on failure), width, height, alpha, compressed, inputs,
// outputs, skipped, frames, failures, missing, missingFrames, driverMs,
// damage, damaged (each with salvage, where asked for), salvage (the first
// damaged frame's, where salvage was asked for), aspect, comment, carried
// and warnings: one line without its newline. File names keep bytes that are not UTF-8 as \udcXX.
std::string ConvertSummaryJson(const ConvertRun& run);

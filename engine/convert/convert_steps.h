// The convert pipeline's steps, shared by its two directions
// (convert_to_pic.cpp, convert_from_pic.cpp) and ConvertFrame
// (convert_frame.cpp), which picks one.
#pragma once

#include <string>

#include "engine/convert/convert_job.h"
#include "engine/convert/pic_codec.h"

FrameOutcome ConvertFrameToPic(PicCodec& codec, const ConvertJob& job, const FrameTask& task,
                               FrameProgress& progress);
FrameOutcome ConvertFrameFromPic(PicCodec& codec, const ConvertJob& job, const FrameTask& task,
                                 FrameProgress& progress);

// A PIC input loaded: what the codec gave, and the header's user comment.
struct LoadedPicFile {
    PicLoaded loaded;
    std::string comment; // without the driver's prefix
};

// Reads the rest of `input` (opened, perhaps its first bytes read), checks
// its declared size against the job's limits and loads it through `codec`;
// false with `failure` about `label`.
bool LoadPicFile(PicCodec& codec, const ConvertJob& job, const std::string& label,
                 FrameProgress& progress, PicInput& input, LoadedPicFile& file,
                 FrameOutcome& failure);

// Notes in `outcome` the damage a loaded file has, which loads without a
// failing result, and what salvage, where the job asked for it, did.
void NoteDamage(const ConvertJob& job, const PicImageFacts& facts, const std::string& label,
                FrameOutcome& outcome);

// A failed outcome for an output kept as it was or one that could not be made.
FrameOutcome OutputOutcome(int result, int error, const FrameTask& task, BMMRES status);

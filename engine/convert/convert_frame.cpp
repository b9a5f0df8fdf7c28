#include <new>

#include "engine/convert/convert_steps.h"
#include "engine/convert/failure_text.h"
#include "engine/convert/frame_output.h"
#include "engine/convert/library_codec.h"
#include "engine/formats/image_format.h"
#include "engine/support/utf8_text.h"
#include "pic/pic_comment.h"

FrameOutcome ConvertFrame(PicCodec& codec, const ConvertJob& job, const FrameTask& task,
                          FrameProgress& progress)
{
    try {
        return job.toPic ? ConvertFrameToPic(codec, job, task, progress)
                         : ConvertFrameFromPic(codec, job, task, progress);
    } catch (const std::bad_alloc&) {
        return FrameFailure(task.input, "out of memory");
    }
}

FrameOutcome FrameFailure(const std::string& file, const std::string& what, BMMRES status)
{
    FrameOutcome outcome;
    outcome.status = status;
    outcome.errorFile = file;
    outcome.error = what;
    return outcome;
}

FrameOutcome FrameSkipped()
{
    FrameOutcome outcome;
    outcome.ok = true;
    outcome.skipped = true;
    return outcome;
}

bool FitUserComment(std::string& comment)
{
    if (comment.size() <= kCommentRoom)
        return false;
    comment.resize(Utf8CutLength(comment, kCommentRoom));
    return true;
}

bool LoadPicFile(PicCodec& codec, const ConvertJob& job, const std::string& label,
                 FrameProgress& progress, PicInput& input, LoadedPicFile& file,
                 FrameOutcome& failure)
{
    if (!input.opened || !ReadRestOfPicInput(job.read.maxPixels, input)) {
        failure = FrameFailure(label, PicInputFailureText(input), PicInputFailureResult(input));
        return false;
    }
    // The header's sizes are checked before a storage is sized from them; a
    // header that does not read is left to the codec's words.
    if (input.HeaderRead()) {
        const uint64_t width = input.header.Width(), height = input.header.Height();
        if (width == 0 || height == 0) {
            failure = FrameFailure(label, "no pixels: " + std::to_string(width) + " x " +
                                              std::to_string(height));
            return false;
        }
        if (width * height > job.read.maxPixels) {
            failure = FrameFailure(label, PixelLimitText(width, height, job.read.maxPixels));
            return false;
        }
    }
    // Salvage is pic/'s reader's: the driver's load stays as the host has it.
    LibraryPicCodec salvager(true);
    PicCodec& loader = job.salvage ? salvager : codec;
    if (!loader.Load(input, label, job.read.maxPixels, progress, file.loaded, failure))
        return false;
    file.comment = PicUserComment(input.header.comment);
    return true;
}

void NoteDamage(const ConvertJob& job, const PicImageFacts& facts, const std::string& label,
                FrameOutcome& outcome)
{
    if (job.salvage)
        outcome.salvage = PicSalvageJson(facts);
    if (facts.status != PicImageStatus::Ok || !facts.rows.damaged)
        return;
    outcome.damaged = true;
    outcome.damage = PicDamageJson(facts);
    outcome.damageRow = facts.rows.damage.row;
    outcome.damageOffset = facts.rows.damage.offset;
    outcome.damageReason = PicRowStatusText(facts.rows.damage.reason);
    outcome.error = "damaged: " + PicDamageText(facts);
    if (facts.salvaged)
        outcome.error += "; salvaged: " + PicSalvageText(facts);
    outcome.errorFile = label;
}

FrameOutcome OutputOutcome(int result, int error, const FrameTask& task, BMMRES status)
{
    if (result == FrameOutput::kSkipped)
        return FrameSkipped();
    return FrameFailure(task.output, OutputFailureText(task.output, error), status);
}

// Frames to PIC files. An image's reader stores its rows in a frame of the
// codec one by one, or a PIC file, read once, is loaded into one; then the
// codec writes the frame. What the input says of itself (alpha, a PIC
// file's compression, comment, aspect ratio) is kept unless an option says
// otherwise: the rule lives here, and reaches the codec as an options block.
#include <cstring>
#include <utility>

#include "engine/convert/convert_steps.h"
#include "engine/convert/failure_text.h"
#include "engine/convert/frame_output.h"
#include "engine/convert/premultiply.h"
#include "engine/convert/wide_rows.h"
#include "engine/formats/format_table.h"
#include "engine/formats/image_input.h"
#include "engine/formats/image_output.h"
#include "engine/support/system_error_text.h"
#include "engine/support/utf8_text.h"

namespace {

// What the input gives the PIC file unless an option says otherwise, and
// what loading it noted (its time, its damage, its reader's warnings).
struct InputTraits {
    std::unique_ptr<Frame> frame;
    bool hasAlpha = false;
    bool knowsCompression = false; // a PIC input: its colour packets' layout
    bool compressed = false;
    bool haveComment = false;
    std::string comment;
    bool haveAspect = false;
    float aspect = 1.0f;
    FrameOutcome notes;
};

// The block the codec writes with: --options, else the codec's own, then
// the flags; without a flag or a block, the input's own alpha, compression
// and comment.
bool PrepareOptions(PicCodec& codec, const ConvertJob& job, const InputTraits& input,
                    PicOptions& options, FrameOutcome& outcome, std::string& error)
{
    const bool block = job.haveOptionsBlock;
    if (block)
        options = job.optionsBlock;
    else if (!codec.StartingOptions(options, error))
        return false;
    if (job.alpha != Switch::Unset)
        options.withAlpha = job.alpha == Switch::On ? 1 : 0;
    else if (!block)
        options.withAlpha = input.hasAlpha ? 1 : 0;
    if (job.compressed != Switch::Unset)
        options.rgbCompressed = job.compressed == Switch::On ? 1 : 0;
    else if (!block && input.knowsCompression)
        options.rgbCompressed = input.compressed ? 1 : 0;
    std::string comment;
    if (job.commentGiven) {
        comment = job.comment; // cut to what the header keeps already
    } else if (!block && input.haveComment && !input.comment.empty()) {
        comment = input.comment.substr(0, Utf8CutLength(input.comment, kCommentRoom));
        outcome.carried.push_back("comment");
    }
    if (job.commentGiven || (!block && input.haveComment)) {
        std::memset(options.comment, 0, sizeof options.comment);
        std::memcpy(options.comment, comment.data(), comment.size());
    }
    outcome.comment = std::string(options.comment, PicCommentLength(options.comment));
    return true;
}

// Stores the rows of `source` in a new frame of the codec, premultiplied
// when asked; false when the source fails or no frame can be had.
bool FillFrame(PicCodec& codec, RowSource& source, ImageHeader& header, const ConvertJob& job,
               InputTraits& traits, std::string& error, bool& noStorage)
{
    traits.frame = codec.NewFrame(header.width, header.height, error, noStorage);
    if (!traits.frame)
        return false;
    std::vector<uint16_t> channels(size_t(header.width) * 4);
    for (uint32_t y = 0; y < header.height; ++y) {
        if (!source.Row(channels.data(), error))
            return false;
        if (job.premultiply)
            PremultiplyRow(channels.data(), header.width);
        if (!traits.frame->StoreRow(y, channels.data(), error))
            return false;
    }
    return source.Finish(header, error);
}

// An image of another format through its reader into a frame.
bool ReadImage(PicCodec& codec, const ConvertJob& job, const FrameTask& task,
               const ImageFormat& format, InputBytes& bytes, InputTraits& traits,
               FrameOutcome& failure)
{
    auto input = std::make_unique<ImageInput>();
    input->Adopt(bytes);
    // Readers that seek take named files: standard input goes to one first.
    std::unique_ptr<StagingFile> staged;
    std::string error;
    if (bytes.IsStream() && format.namedFilesOnly) {
        staged = std::make_unique<StagingFile>("");
        if (!staged->Fill(*input, job.read.maxPixels, error)) {
            failure = FrameFailure(task.input, error);
            return false;
        }
        input = std::make_unique<ImageInput>();
        if (!input->Open(staged->Path(), error)) {
            failure = FrameFailure(task.input, error);
            return false;
        }
    }
    std::unique_ptr<RowSource> source = format.newReader(*input, job.read);
    ImageHeader header;
    bool noStorage = false;
    if (!source->Start(header, error) ||
        !FillFrame(codec, *source, header, job, traits, error, noStorage)) {
        failure = FrameFailure(noStorage ? task.output : task.input, error);
        return false;
    }
    traits.hasAlpha = header.hasAlpha;
    traits.haveComment = header.haveComment;
    traits.comment = header.comment;
    traits.haveAspect = header.haveAspect;
    traits.aspect = header.aspect;
    traits.notes.warnings = std::move(header.notes);
    return true;
}

// A loaded PIC picture as a PIC output, 8 bits a channel, is to hold it:
// a 16-bit picture's rows rounded, as its 8-bit outputs are (a writer takes
// each channel's high byte), in place; a picture loaded by pic/'s reader for
// salvage copied into a frame of the codec's own, which its writer takes.
bool PrepareLoadedFrame(PicCodec& codec, const ConvertJob& job, PicLoaded& loaded,
                        std::string& error, bool& noStorage)
{
    const WideRows wide(loaded.facts.packets);
    if (!wide.Sixteen() && !job.salvage)
        return true;
    Frame& from = *loaded.frame;
    const uint32_t width = from.Width(), height = from.Height();
    std::unique_ptr<Frame> copy;
    if (job.salvage && !(copy = codec.NewFrame(width, height, error, noStorage)))
        return false;
    Frame& to = copy ? *copy : from;
    std::vector<uint16_t> row(size_t(width) * 4);
    for (uint32_t y = 0; y < height; ++y) {
        if (!from.FetchRow(y, row.data(), error))
            return false;
        if (wide.Sixteen()) {
            wide.Widen(row.data(), width);
            RoundRowTo8Bits(row.data(), width);
        }
        if (!to.StoreRow(y, row.data(), error))
            return false;
    }
    if (copy)
        loaded.frame = std::move(copy);
    return true;
}

// A PIC file, read once, loaded through the codec.
bool ReadPic(PicCodec& codec, const ConvertJob& job, const FrameTask& task, PicInput& input,
             FrameProgress& progress, InputTraits& traits, FrameOutcome& failure)
{
    LoadedPicFile file;
    if (!LoadPicFile(codec, job, task.input, progress, input, file, failure))
        return false;
    PicLoaded& loaded = file.loaded;
    std::string error;
    bool noStorage = false;
    if (!PrepareLoadedFrame(codec, job, loaded, error, noStorage)) {
        failure = FrameFailure(noStorage ? task.output : task.input, error);
        return false;
    }
    traits.frame = std::move(loaded.frame);
    traits.hasAlpha = loaded.hasAlpha;
    traits.knowsCompression = loaded.haveOptions;
    traits.compressed = loaded.options.rgbCompressed == 1;
    traits.haveComment = !file.comment.empty();
    traits.comment = file.comment;
    traits.haveAspect = true;
    traits.aspect = loaded.aspect;
    traits.notes.driverMs = loaded.driverMs;
    NoteDamage(job, loaded.facts, task.input, traits.notes);
    return true;
}

// The input into a frame: its first bytes tell its format.
bool LoadInput(PicCodec& codec, const ConvertJob& job, const FrameTask& task,
               FrameProgress& progress, InputTraits& traits, FrameOutcome& failure)
{
    PicInput input;
    input.opened = input.bytes.Open(task.input);
    if (!input.opened || !input.bytes.ReadUpTo(kSniffBytes)) {
        failure =
            FrameFailure(task.input, PicInputFailureText(input), PicInputFailureResult(input));
        return false;
    }
    const ImageFormat* format = FormatOfHead(input.bytes.Data(), input.bytes.Size());
    // Every format the table sniffs has a reader here, or is PIC.
    if (format == nullptr || (format != &PicFormat() && format->newReader == nullptr)) {
        failure = FrameFailure(task.input, "not an image read here (" + ReadFormatNames() + ")");
        return false;
    }
    if (!format->layered && (!job.read.part.empty() || !job.read.channels.empty())) {
        failure = FrameFailure(task.input, std::string("--part and --ch apply to inputs with parts "
                                                       "and layers (EXR), not ") +
                                               format->name);
        return false;
    }
    if (format == &PicFormat())
        return ReadPic(codec, job, task, input, progress, traits, failure);
    return ReadImage(codec, job, task, *format, input.bytes, traits, failure);
}

// Writes `frame` through the codec under the name `output` gives it, and
// commits `output`.
FrameOutcome WritePic(PicCodec& codec, const ConvertJob& job, const FrameTask& task,
                      FrameOutput& output, InputTraits& input, FrameProgress& progress)
{
    FrameOutcome outcome;
    PicOptions options{};
    std::string error;
    if (!PrepareOptions(codec, job, input, options, outcome, error))
        return FrameFailure(task.output, error);
    outcome.aspect = job.aspectGiven ? job.aspect : input.haveAspect ? input.aspect : 1.0f;
    if (!job.aspectGiven && input.haveAspect && AspectIsKnown(input.aspect))
        outcome.carried.insert(outcome.carried.begin(), "aspect");
    FrameOutcome written;
    if (!codec.Write(*input.frame, options, outcome.aspect, output.WriterName(), task.output,
                     progress, written))
        return written;
    const FrameOutput::Result committed = output.Commit();
    if (committed != FrameOutput::kReady)
        return OutputOutcome(committed, output.SystemError(), task, kResultSystemError);
    outcome.ok = true;
    outcome.width = input.frame->Width();
    outcome.height = input.frame->Height();
    outcome.driverMs = written.driverMs;
    outcome.haveOptions = written.haveOptions;
    outcome.options = written.options;
    outcome.withAlpha = outcome.haveOptions && outcome.options.withAlpha == 1;
    outcome.compressed = outcome.haveOptions && outcome.options.rgbCompressed == 1;
    return outcome;
}

// A written frame's outcome with what loading its input noted. Moved, not
// copied: nothing may fail once the output is in place.
FrameOutcome WithLoadNotes(FrameOutcome&& outcome, InputTraits& traits)
{
    if (outcome.ok) {
        FrameOutcome& notes = traits.notes;
        outcome.driverMs += notes.driverMs;
        outcome.damaged = notes.damaged;
        outcome.damage = std::move(notes.damage);
        outcome.damageRow = notes.damageRow;
        outcome.damageOffset = notes.damageOffset;
        outcome.damageReason = std::move(notes.damageReason);
        outcome.salvage = std::move(notes.salvage);
        outcome.error = std::move(notes.error);
        outcome.errorFile = std::move(notes.errorFile);
        outcome.warnings = std::move(notes.warnings);
    }
    return std::move(outcome);
}

} // namespace

FrameOutcome ConvertFrameToPic(PicCodec& codec, const ConvertJob& job, const FrameTask& task,
                               FrameProgress& progress)
{
    InputTraits traits;
    FrameOutcome failure;
    if (!LoadInput(codec, job, task, progress, traits, failure))
        return failure;
    FrameOutput output;
    if (task.output != "-") {
        const FrameOutput::Result opened = output.Open(task.output, job.noClobber);
        if (opened != FrameOutput::kReady)
            return OutputOutcome(opened, output.SystemError(), task, kResultSystemError);
        return WithLoadNotes(WritePic(codec, job, task, output, traits, progress), traits);
    }
    // The codec writes named files: standard output gets a copy of one.
    StagingFile staged;
    std::string error;
    if (!staged.Create(error))
        return FrameFailure(task.output, error);
    output.WriteUnder(staged.WriterName());
    FrameOutcome outcome = WritePic(codec, job, task, output, traits, progress);
    if (outcome.ok && !staged.CopyToStdout(error))
        return FrameFailure(task.output, error);
    return WithLoadNotes(std::move(outcome), traits);
}

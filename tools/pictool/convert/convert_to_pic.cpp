// Frames to PIC files. An image's reader stores its rows in a host storage
// one by one, or a PIC file is loaded into one by a driver of its own; then
// a driver bound with OpenForWrite writes the storage with WriteFrame. What
// the input says of itself (alpha, a PIC file's compression, comment,
// aspect ratio) is kept unless an option says otherwise.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <new>
#include <utility>

#include "host/bitmap_storage.h"
#include "host/bmm_functions.h"
#include "pic/pic_header.h"
#include "tools/pictool/convert/convert_job.h"
#include "tools/pictool/convert/frame_output.h"
#include "tools/pictool/convert/premultiply.h"
#include "tools/pictool/convert/progress_bar.h"
#include "tools/pictool/formats/format_table.h"
#include "tools/pictool/formats/image_input.h"
#include "tools/pictool/formats/image_output.h"
#include "tools/pictool/support/short_name.h"
#include "tools/pictool/support/utf8_text.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the input gives the PIC file unless an option says otherwise.
struct InputTraits {
    bool hasAlpha = false;
    bool knowsCompression = false; // a PIC input: its colour packets' layout
    bool compressed = false;
    bool haveComment = false;
    std::string comment;
    bool haveAspect = false;
    float aspect = 1.0f;
    std::vector<std::string> notes; // what the reader left behind
};

// What the header keeps of a user's comment: its 80 bytes less the driver's
// prefix and the closing zero.

// --options first, then the flags, edited into the block SaveOptions hands
// out and given back with LoadOptions: the driver's own table throughout.
// Without a flag or --options, the input's own alpha, compression and
// comment.
bool PrepareOptions(BitmapIO& driver, const ConvertJob& job, const InputTraits& input,
                    FrameOutcome& outcome, std::string& error)
{
    if (!job.optionsPath.empty() && driver.LoadOptions(job.optionsBlock.bytes) != 1) {
        error = "the driver refused the options block " + job.optionsPath;
        return false;
    }
    PicOptions options;
    if (!SaveDriverOptions(driver, options)) {
        error = "the driver hands out no options block";
        return false;
    }
    const bool block = !job.optionsPath.empty();
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
        comment = job.comment; // the parser cut it to what the header keeps
    } else if (!block && input.haveComment && !input.comment.empty()) {
        comment = input.comment.substr(0, Utf8CutLength(input.comment, kCommentRoom));
        outcome.carried.push_back("comment");
    }
    if (job.commentGiven || (!block && input.haveComment)) {
        std::memset(options.comment, 0, sizeof options.comment);
        std::memcpy(options.comment, comment.data(), comment.size());
    }
    outcome.comment = std::string(options.comment, PicCommentLength(options.comment));
    if (driver.LoadOptions(&options) != 1) {
        error = "the driver refused the edited options";
        return false;
    }
    return true;
}

// Stores the rows of `source` in a new storage of `bitmap`, premultiplied
// when asked; false when the source fails or the storage cannot be had.
bool FillStorage(RowSource& source, ImageHeader& header, const ConvertJob& job,
                 BitmapManager& manager, Bitmap& bitmap, std::string& error, bool& noStorage)
{
    BitmapStorage* storage = BMMCreateStorage(&manager, kStorage64);
    if (storage == nullptr) {
        error = "the host made no storage";
        noStorage = true;
        return false;
    }
    bitmap.SetStorage(storage);
    BitmapInfo info;
    info.SetWidth(uint16_t(header.width)); // both <= kMaxImageSide
    info.SetHeight(uint16_t(header.height));
    if (!storage->AllocatePixels(&info, &manager, 1)) {
        error = "no storage for the image (out of memory)";
        return false;
    }
    std::vector<uint16_t> channels(size_t(header.width) * 4);
    std::vector<BMM_Color_64> row(header.width);
    for (uint32_t y = 0; y < header.height; ++y) {
        if (!source.Row(channels.data(), error))
            return false;
        if (job.premultiply)
            PremultiplyRow(channels.data(), header.width);
        const uint16_t* channel = channels.data();
        for (BMM_Color_64& pixel : row) {
            pixel = BMM_Color_64{channel[0], channel[1], channel[2], channel[3]};
            channel += 4;
        }
        if (!storage->StoreRow(0, int(y), int(header.width), row.data())) {
            error = "the storage refused row " + std::to_string(y);
            return false;
        }
    }
    return source.Finish(header, error);
}

// A frame whose output was kept (--no-clobber) or could not be made, as
// the driver's own refusal of the file was reported.
FrameOutcome OutputOutcome(FrameOutput::Result result, const FrameOutput& output,
                           const FrameTask& task)
{
    if (result == FrameOutput::kSkipped)
        return FrameSkipped();
    return FrameFailure(task.output, OutputFailureText(task.output, output.SystemError()),
                        kResultSystemError);
}

// Hands `name` to a new driver, bound with OpenForWrite, and writes the
// storage `bitmap` holds with WriteFrame. The driver may make files of its
// own meanwhile, which an interrupt cannot see: it waits for the call.
BMMRES DriverWrite(BitmapIO& driver, const std::string& name, int frame, Bitmap& bitmap,
                   ProgressWindow& progress, double& driverMs)
{
    BitmapInfo outputInfo;
    outputInfo.SetName(name.c_str());
    outputInfo.SetUpdateWindow(progress.Window());
    const BMMRES opened = driver.OpenForWrite(&outputInfo, &bitmap);
    if (opened != kResultSuccess)
        return opened;
    const Clock::time_point start = Clock::now();
    BMMRES result;
    {
        const InterruptDeferral deferral;
        result = driver.WriteFrame(frame);
    }
    driverMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return result;
}

// Writes the storage `bitmap` holds through a new driver, under the name
// `output` gives it, and commits `output`.
FrameOutcome WriteFrame(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                        FrameOutput& output, Bitmap& bitmap, const InputTraits& input,
                        ProgressWindow& progress)
{
    DriverPtr driver = plugin.NewDriver();
    if (!driver)
        return FrameFailure(plugin.Path(), "the plug-in made no driver");
    FrameOutcome outcome;
    std::string error;
    if (!PrepareOptions(*driver, job, input, outcome, error))
        return FrameFailure(task.output, error);
    BitmapStorage& storage = *bitmap.Storage();
    outcome.aspect = job.aspectGiven ? job.aspect : input.haveAspect ? input.aspect : 1.0f;
    if (!job.aspectGiven && input.haveAspect && AspectIsKnown(input.aspect))
        outcome.carried.insert(outcome.carried.begin(), "aspect");
    storage.bi.SetAspect(outcome.aspect);

    // The driver takes the name the host's field holds: a long one is named
    // by the file's or its folder's shorter name, where the system has one.
    const std::string& name = output.WriterName();
    std::error_code status;
    const bool exists = std::filesystem::exists(name, status);
    const ShortName given(name, exists ? ShortName::Existing : ShortName::ToMake);
    if (!given.Fits())
        return FrameFailure(task.output, given.Why());
    progress.Begin(task.output);
    const BMMRES result =
        DriverWrite(*driver, given.Name(), kSingleFrame, bitmap, progress, outcome.driverMs);
    if (result != kResultSuccess)
        return FrameFailure(task.output,
                            DriverFailureText(task.output, result, DriverTask::Write, given.Name()),
                            result);
    const FrameOutput::Result committed = output.Commit();
    if (committed != FrameOutput::kReady)
        return OutputOutcome(committed, output, task);
    outcome.ok = true;
    outcome.width = uint32_t(storage.Width());
    outcome.height = uint32_t(storage.Height());
    outcome.haveOptions = SaveDriverOptions(*driver, outcome.options);
    outcome.withAlpha = outcome.haveOptions && outcome.options.withAlpha == 1;
    outcome.compressed = outcome.haveOptions && outcome.options.rgbCompressed == 1;
    return outcome;
}

// The input into `bitmap`'s storage through the format's reader or, for a
// PIC file, a driver; a failed outcome when it cannot be had.
bool LoadInput(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
               BitmapManager& manager, Bitmap& bitmap, InputTraits& traits,
               ProgressWindow& progress, FrameOutcome& failure, FrameOutcome& loadNotes)
{
    auto input = std::make_unique<ImageInput>();
    std::string error;
    if (!input->Open(task.input, error)) {
        failure = FrameFailure(task.input, error);
        return false;
    }
    const ImageFormat* format = FormatOfInput(*input);
    // Every format the table sniffs has a reader here, or is PIC.
    if (format == nullptr || (format != &PicFormat() && format->newReader == nullptr)) {
        failure =
            FrameFailure(task.input, "not an image pictool reads (" + ReadFormatNames() + ")");
        return false;
    }
    if (!format->layered && (!job.read.part.empty() || !job.read.channels.empty())) {
        failure = FrameFailure(task.input, std::string("--part and --ch apply to inputs with parts "
                                                       "and layers (EXR), not ") +
                                               format->name);
        return false;
    }
    // The driver, and readers that seek, take named files: standard input
    // goes to one first.
    std::unique_ptr<StagingFile> staged;
    std::string path = task.input;
    if (IsStream(task.input) && (format == &PicFormat() || format->namedFilesOnly)) {
        staged = std::make_unique<StagingFile>(format == &PicFormat() ? ".pic" : "");
        if (!staged->Fill(*input, job.read.maxPixels, error)) {
            failure = FrameFailure(task.input, error);
            return false;
        }
        path = staged->Path();
        input = std::make_unique<ImageInput>();
        if (!input->Open(path, error)) {
            failure = FrameFailure(task.input, error);
            return false;
        }
    }
    if (format == &PicFormat()) {
        LoadedPic loaded;
        if (!LoadPic(plugin, path, task.input, job.read.maxPixels, bitmap, progress, loaded,
                     failure))
            return false;
        traits.hasAlpha = loaded.hasAlpha;
        traits.knowsCompression = loaded.haveOptions;
        traits.compressed = loaded.options.rgbCompressed == 1;
        traits.haveComment = !loaded.comment.empty();
        traits.comment = loaded.comment;
        traits.haveAspect = true;
        traits.aspect = loaded.aspect;
        loadNotes.driverMs = loaded.driverMs;
        NoteDamage(path, task.input, loadNotes);
        return true;
    }
    std::unique_ptr<RowSource> source = format->newReader(*input, job.read);
    ImageHeader header;
    bool noStorage = false;
    if (!source->Start(header, error) ||
        !FillStorage(*source, header, job, manager, bitmap, error, noStorage)) {
        failure = FrameFailure(noStorage ? task.output : task.input, error);
        return false;
    }
    traits.hasAlpha = header.hasAlpha;
    traits.haveComment = header.haveComment;
    traits.comment = header.comment;
    traits.haveAspect = header.haveAspect;
    traits.aspect = header.aspect;
    traits.notes = std::move(header.notes);
    return true;
}

// A written frame's outcome with what loading its input noted (its time,
// its damage, the reader's warnings). Moved, not copied: nothing may fail
// once the output is in place.
FrameOutcome WithLoadNotes(FrameOutcome&& outcome, FrameOutcome& loadNotes, InputTraits& traits)
{
    if (outcome.ok) {
        outcome.driverMs += loadNotes.driverMs;
        outcome.damaged = loadNotes.damaged;
        outcome.damage = std::move(loadNotes.damage);
        outcome.damageRow = loadNotes.damageRow;
        outcome.damageOffset = loadNotes.damageOffset;
        outcome.damageReason = std::move(loadNotes.damageReason);
        outcome.error = std::move(loadNotes.error);
        outcome.errorFile = std::move(loadNotes.errorFile);
        outcome.warnings = std::move(traits.notes);
    }
    return std::move(outcome);
}

FrameOutcome Convert(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                     ProgressWindow& progress)
{
    // Declared before the drivers, so the drivers go first: a writing
    // driver remembers the bitmap.
    BitmapManager manager;
    Bitmap bitmap(&manager);
    InputTraits traits;
    FrameOutcome failure, loadNotes;
    if (!LoadInput(plugin, job, task, manager, bitmap, traits, progress, failure, loadNotes))
        return failure;
    FrameOutput output;
    std::string error;
    if (task.output != "-") {
        const FrameOutput::Result opened = output.Open(task.output, job.noClobber);
        if (opened != FrameOutput::kReady)
            return OutputOutcome(opened, output, task);
        return WithLoadNotes(WriteFrame(plugin, job, task, output, bitmap, traits, progress),
                             loadNotes, traits);
    }
    // The driver writes named files: standard output gets a copy of one.
    StagingFile staged;
    if (!staged.Create(error))
        return FrameFailure(task.output, error);
    output.WriteUnder(staged.WriterName());
    FrameOutcome outcome = WriteFrame(plugin, job, task, output, bitmap, traits, progress);
    if (outcome.ok && !staged.CopyToStdout(error))
        return FrameFailure(task.output, error);
    return WithLoadNotes(std::move(outcome), loadNotes, traits);
}

} // namespace

FrameOutcome ConvertFrameToPic(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                               ProgressWindow& progress)
{
    try {
        return Convert(plugin, job, task, progress);
    } catch (const std::bad_alloc&) {
        return FrameFailure(task.input, "out of memory");
    }
}

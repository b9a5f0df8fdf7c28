// PIC files to other images: a driver of the frame's own loads the file
// into a host storage with LoadImage, and the storage's rows go one by one
// to the output format's writer.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <new>

#include "host/bitmap_storage.h"
#include "host/bmm_functions.h"
#include "pic/pic_image.h"
#include "tools/pictool/convert/convert_job.h"
#include "tools/pictool/convert/failure_text.h"
#include "tools/pictool/convert/frame_output.h"
#include "tools/pictool/convert/premultiply.h"
#include "tools/pictool/convert/progress_bar.h"
#include "tools/pictool/formats/image_input.h"
#include "tools/pictool/formats/image_output.h"
#include "tools/pictool/formats/pic_format.h"
#include "tools/pictool/support/short_name.h"

namespace {

using Clock = std::chrono::steady_clock;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The storage's rows to `sink`, which is started with `header`.
bool StreamStorage(BitmapStorage& storage, const ImageHeader& header, bool unpremultiply,
                   RowSink& sink, std::string& error)
{
    if (!sink.Start(header, error))
        return false;
    std::vector<BMM_Color_64> row(header.width);
    std::vector<uint16_t> channels(size_t(header.width) * 4);
    for (uint32_t y = 0; y < header.height; ++y) {
        if (!storage.FetchRow(0, int(y), int(header.width), row.data())) {
            error = "the storage refused row " + std::to_string(y);
            return false;
        }
        uint16_t* channel = channels.data();
        for (const BMM_Color_64& pixel : row) {
            channel[0] = pixel.r;
            channel[1] = pixel.g;
            channel[2] = pixel.b;
            channel[3] = pixel.a;
            channel += 4;
        }
        if (unpremultiply && header.hasAlpha)
            UnpremultiplyRow(channels.data(), header.width);
        if (!sink.Row(channels.data(), error))
            return false;
    }
    return sink.Finish(error);
}

// "cannot create (...)", or "is a directory", as a format's writer says it.
std::string CreateFailureText(const std::string& path, int error)
{
    const std::string why = OutputFailureText(path, error);
    return why == "is a directory" ? why : "cannot create (" + why + ")";
}

FrameOutcome LoadAndWrite(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                          const std::string& inputPath, ProgressWindow& progress)
{
    BitmapManager manager;
    Bitmap bitmap(&manager);
    LoadedPic loaded;
    FrameOutcome outcome;
    if (!LoadPic(plugin, inputPath, task.input, job.read.maxPixels, bitmap, progress, loaded,
                 outcome))
        return outcome;
    BitmapStorage& storage = *bitmap.Storage();

    ImageHeader header;
    header.width = uint32_t(storage.Width());
    header.height = uint32_t(storage.Height());
    header.hasAlpha = loaded.hasAlpha;
    header.haveAspect = AspectIsKnown(loaded.aspect);
    header.aspect = loaded.aspect;
    header.haveComment = !loaded.comment.empty();
    header.comment = loaded.comment;

    // Made before the write: a step that fails (out of memory) must not fail
    // a frame whose file has already replaced the earlier one.
    outcome.driverMs = loaded.driverMs;
    outcome.width = header.width;
    outcome.height = header.height;
    outcome.withAlpha = header.hasAlpha;
    outcome.haveOptions = loaded.haveOptions;
    outcome.options = loaded.options;
    outcome.compressed = loaded.haveOptions && loaded.options.rgbCompressed == 1;
    outcome.aspect = header.aspect;
    outcome.comment = header.comment;
    if (job.outputFormat->keepsMetadata && header.haveAspect)
        outcome.carried.push_back("aspect");
    if (job.outputFormat->keepsMetadata && header.haveComment)
        outcome.carried.push_back("comment");
    NoteDamage(inputPath, task.input, outcome);

    // The writer writes the frame's output, which is committed after it;
    // formats that seek write a staging file on their way to standard output.
    const bool staged = task.output == "-" && job.outputFormat->namedFilesOnly;
    std::unique_ptr<StagingFile> staging;
    FrameOutput output;
    std::string error;
    if (staged) {
        staging = std::make_unique<StagingFile>("");
        if (!staging->Create(error))
            return FrameFailure(task.output, error);
        output.WriteUnder(staging->WriterName());
    } else if (const FrameOutput::Result opened = output.Open(task.output, job.noClobber);
               opened != FrameOutput::kReady) {
        return opened == FrameOutput::kSkipped
                   ? FrameSkipped()
                   : FrameFailure(task.output,
                                  CreateFailureText(task.output, output.SystemError()));
    }
    std::unique_ptr<RowSink> sink = job.outputFormat->newWriter(output.WriterName(), job.write);
    if (!StreamStorage(storage, header, job.unpremultiply, *sink, error))
        return FrameFailure(task.output, error);
    sink.reset();
    if (const FrameOutput::Result committed = output.Commit(); committed != FrameOutput::kReady)
        return committed == FrameOutput::kSkipped
                   ? FrameSkipped()
                   : FrameFailure(task.output,
                                  OutputFailureText(task.output, output.SystemError()));
    if (staged && !staging->CopyToStdout(error))
        return FrameFailure(task.output, error);
    outcome.ok = true;
    return outcome;
}

} // namespace

bool LoadPic(const Plugin& plugin, const std::string& path, const std::string& label,
             uint64_t maxPixels, Bitmap& bitmap, ProgressWindow& progress, LoadedPic& loaded,
             FrameOutcome& failure)
{
    // The header's sizes are checked before the driver sizes a storage from
    // them; a header that does not read is left to the driver's words.
    PicHeader picHeader{};
    std::vector<PicChannelPacket> packets;
    if (const FilePtr file{std::fopen(path.c_str(), "rb")}) {
        PicHeaderStatus status;
        {
            PicByteSource source(file.get()); // hands the stream back before it closes
            status = ReadPicHeader(source, picHeader, packets);
        }
        if (status == PicHeaderStatus::Read) {
            const uint64_t width = picHeader.Width(), height = picHeader.Height();
            if (width == 0 || height == 0) {
                failure = FrameFailure(label, "no pixels: " + std::to_string(width) + " x " +
                                                  std::to_string(height));
                return false;
            }
            if (width * height > maxPixels) {
                failure = FrameFailure(label, PixelLimitText(width, height, maxPixels));
                return false;
            }
        }
    }
    const ShortName name(path);
    if (!name.Fits()) {
        failure = FrameFailure(label, name.Why());
        return false;
    }
    DriverPtr driver = plugin.NewDriver();
    if (!driver) {
        failure = FrameFailure(plugin.Path(), "the plug-in made no driver");
        return false;
    }
    BitmapInfo info;
    info.SetName(name.Name().c_str());
    info.SetUpdateWindow(progress.Window());
    BMMRES status = kResultSuccess;
    progress.Begin(label);
    const Clock::time_point start = Clock::now();
    BitmapStorage* storage = driver->LoadImage(&info, &bitmap, &status);
    loaded.driverMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (storage == nullptr) {
        failure =
            FrameFailure(label, DriverFailureText(name.Name(), status, DriverTask::Load), status);
        return false;
    }
    bitmap.SetStorage(storage);
    loaded.hasAlpha = info.Type() == kImageType32WithAlpha;
    loaded.aspect = info.Aspect();
    loaded.haveOptions = SaveDriverOptions(*driver, loaded.options);
    std::string comment, error;
    if (!ReadPicHeaderComment(path, comment, error)) {
        failure = FrameFailure(label, error);
        return false;
    }
    loaded.comment = PicUserComment(comment);
    return true;
}

void NoteDamage(const std::string& input, const std::string& label, FrameOutcome& outcome)
{
    const FilePtr file{std::fopen(input.c_str(), "rb")};
    if (!file)
        return;
    PicByteSource source(file.get()); // destroyed before the stream closes
    const PicImageFacts facts = ReadPicImage(source, false).facts;
    const bool readFailed = source.ReadFailed();
    // A read the system failed says nothing of the file: no damage is noted.
    if (facts.status != PicImageStatus::Ok || !facts.rows.damaged || readFailed)
        return;
    outcome.damaged = true;
    outcome.damage = PicDamageJson(facts);
    outcome.damageRow = facts.rows.damage.row;
    outcome.damageOffset = facts.rows.damage.offset;
    outcome.damageReason = PicRowStatusText(facts.rows.damage.reason);
    outcome.error = "damaged: " + PicDamageText(facts);
    outcome.errorFile = label;
}

FrameOutcome ConvertFrameFromPic(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                                 ProgressWindow& progress)
{
    try {
        if (!IsStream(task.input))
            return LoadAndWrite(plugin, job, task, task.input, progress);
        // The driver reads a file more than once (so do the checks around
        // it): standard input, a pipe or a FIFO goes to a named file first.
        ImageInput input;
        StagingFile staged;
        std::string error;
        if (!input.Open(task.input, error) || !staged.Fill(input, job.read.maxPixels, error))
            return FrameFailure(task.input, error);
        return LoadAndWrite(plugin, job, task, staged.Path(), progress);
    } catch (const std::bad_alloc&) {
        return FrameFailure(task.input, "out of memory");
    }
}

// Images to PIC files: each frame's image goes into a host storage, and a
// driver of its own, bound with OpenForWrite, writes it with WriteFrame.
#include <chrono>
#include <cstring>
#include <new>

#include "host/bmm_functions.h"
#include "tools/pictool/convert_job.h"
#include "tools/pictool/progress_bar.h"

namespace {

using Clock = std::chrono::steady_clock;

// --options first, then the flags, edited into the block SaveOptions hands
// out and given back with LoadOptions: the driver's own table throughout.
// Without --alpha, --no-alpha or --options the file has alpha when the
// image has.
bool PrepareOptions(BitmapIO& driver, const ConvertJob& job, bool imageHasAlpha, std::string& error)
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
    if (job.alpha != Switch::Unset)
        options.withAlpha = job.alpha == Switch::On ? 1 : 0;
    else if (job.optionsPath.empty())
        options.withAlpha = imageHasAlpha ? 1 : 0;
    if (job.compressed != Switch::Unset)
        options.rgbCompressed = job.compressed == Switch::On ? 1 : 0;
    if (job.commentGiven) {
        // The parser cut the comment below the field's size: a zero byte follows.
        std::memset(options.comment, 0, sizeof options.comment);
        std::memcpy(options.comment, job.comment.data(), job.comment.size());
    }
    if (driver.LoadOptions(&options) != 1) {
        error = "the driver refused the edited options";
        return false;
    }
    return true;
}

// Sizes the storage for `image` and stores its rows; false when the storage
// refuses (it cannot be allocated).
bool FillStorage(BitmapStorage& storage, BitmapManager& manager, const HostImage& image,
                 float aspect)
{
    BitmapInfo info;
    info.SetWidth(uint16_t(image.width)); // both <= kMaxImageSide
    info.SetHeight(uint16_t(image.height));
    info.SetAspect(aspect);
    if (!storage.AllocatePixels(&info, &manager, 1))
        return false;
    std::vector<BMM_Color_64> row(image.width);
    const uint16_t* channel = image.channels.data();
    for (uint32_t y = 0; y < image.height; ++y) {
        for (BMM_Color_64& pixel : row) {
            pixel = BMM_Color_64{channel[0], channel[1], channel[2], channel[3]};
            channel += 4;
        }
        if (!storage.StoreRow(0, int(y), int(image.width), row.data()))
            return false;
    }
    return true;
}

FrameOutcome WriteFrame(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                        const HostImage& image, ProgressWindow& progress)
{
    // Declared before the driver, so the driver goes first: it remembers the bitmap.
    BitmapManager manager;
    Bitmap bitmap(&manager);
    DriverPtr driver = plugin.NewDriver();
    if (!driver)
        return FrameFailure(plugin.Path(), "the plug-in made no driver");
    std::string error;
    if (!PrepareOptions(*driver, job, image.hasAlpha, error))
        return FrameFailure(task.output, error);
    BitmapStorage* storage = BMMCreateStorage(&manager, kStorage64);
    if (storage == nullptr)
        return FrameFailure(task.output, "the host made no storage");
    bitmap.SetStorage(storage);
    if (!FillStorage(*storage, manager, image, job.aspect))
        return FrameFailure(task.input, "no storage for the image (out of memory)");

    // A numbered output pattern was formatted by us: the driver writes that
    // name as a single image. A plain name is the driver's template.
    const bool driverNumbers = job.sequence && !job.outputNumbered;
    BitmapInfo outputInfo;
    outputInfo.SetName((driverNumbers ? job.output : task.output).c_str()); // < kMaxPathLength
    outputInfo.SetUpdateWindow(progress.Window());
    const BMMRES opened = driver->OpenForWrite(&outputInfo, &bitmap);
    if (opened != kResultSuccess)
        return FrameFailure(task.output, DriverFailureText(task.output, opened, DriverTask::Write),
                            opened);
    const Clock::time_point start = Clock::now();
    const BMMRES result = driver->WriteFrame(driverNumbers ? task.frame : kSingleFrame);
    const double driverMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (result != kResultSuccess)
        return FrameFailure(task.output, DriverFailureText(task.output, result, DriverTask::Write),
                            result);

    FrameOutcome outcome;
    outcome.ok = true;
    outcome.driverMs = driverMs;
    outcome.width = image.width;
    outcome.height = image.height;
    outcome.haveOptions = SaveDriverOptions(*driver, outcome.options);
    outcome.withAlpha = outcome.haveOptions && outcome.options.withAlpha == 1;
    outcome.compressed = outcome.haveOptions && outcome.options.rgbCompressed == 1;
    return outcome;
}

} // namespace

FrameOutcome ConvertFrameToPic(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                               ProgressWindow& progress)
{
    try {
        ImageInput input;
        HostImage image;
        std::string error;
        if (!input.Open(task.input, error) || !ReadImage(input, job.maxPixels, image, error))
            return FrameFailure(task.input, error);
        progress.Begin(task.output);
        if (task.output != "-")
            return WriteFrame(plugin, job, task, image, progress);
        // The driver writes named files: standard output gets a copy of one.
        StagingFile staged;
        FrameTask named = task;
        named.output = staged.Path();
        FrameOutcome outcome = WriteFrame(plugin, job, named, image, progress);
        if (outcome.errorFile == staged.Path())
            outcome.errorFile = task.output;
        if (outcome.ok && !staged.CopyToStdout(error))
            return FrameFailure(task.output, error);
        return outcome;
    } catch (const std::bad_alloc&) {
        return FrameFailure(task.input, "out of memory");
    }
}

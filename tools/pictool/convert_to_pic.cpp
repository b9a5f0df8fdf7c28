// PNG or PAM images to PIC files: the images go into a host storage, and
// one driver, bound once with OpenForWrite, writes each with WriteFrame.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "host/bmm_functions.h"
#include "tools/pictool/convert_job.h"
#include "tools/pictool/progress_bar.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// --options first, then the flags, edited into the block SaveOptions hands
// out and given back with LoadOptions: the driver's own table throughout.
int PrepareOptions(BitmapIO& driver, const ConvertJob& job, ConvertSummary& summary)
{
    if (!job.optionsPath.empty() && driver.LoadOptions(job.optionsBlock.bytes) != 1)
        return ConvertFailure(summary, job.optionsPath, "the driver refused the options block");
    if (job.alpha == Switch::Unset && job.compressed == Switch::Unset && !job.commentGiven)
        return kExitSuccess;
    PicOptions options;
    if (!SaveDriverOptions(driver, options))
        return ConvertFailure(summary, job.output, "the driver hands out no options block");
    if (job.alpha != Switch::Unset)
        options.withAlpha = job.alpha == Switch::On ? 1 : 0;
    if (job.compressed != Switch::Unset)
        options.rgbCompressed = job.compressed == Switch::On ? 1 : 0;
    if (job.commentGiven) {
        // The parser keeps comments below the field's size: a zero byte follows.
        std::memset(options.comment, 0, sizeof options.comment);
        std::memcpy(options.comment, job.comment.data(), job.comment.size());
    }
    if (driver.LoadOptions(&options) != 1)
        return ConvertFailure(summary, job.output, "the driver refused the edited options");
    return kExitSuccess;
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

// The name WriteFrame gives frame `frame`, made by the same host function.
std::string OutputName(const std::string& output, int frame)
{
    if (frame == kSingleFrame)
        return output;
    char name[kMaxPathLength];
    return BMMCreateNumberedFilename(output.c_str(), frame, name) ? std::string(name) : output;
}

int WriteFrames(BitmapIO& driver, BitmapManager& manager, BitmapStorage& storage,
                const ConvertJob& job, ProgressBar& bar, ConvertSummary& summary)
{
    const int count = job.sequence ? job.frames.Count() : 1;
    for (int index = 0; index < count; ++index) {
        const int frame = job.sequence ? job.frames.first + index : kSingleFrame;
        const std::string input = job.sequence ? FrameName(job.inputPattern, frame) : job.input;
        const std::string output = OutputName(job.output, frame);
        summary.inputs.push_back(input);
        HostImage image;
        std::string error;
        if (!ReadImageFile(input, image, error))
            return ConvertFailure(summary, input, error);
        if (!FillStorage(storage, manager, image, job.aspect))
            return ConvertFailure(summary, input, "no storage for the image (out of memory)");
        summary.width = image.width;
        summary.height = image.height;

        bar.Begin(ProgressLabel(job, index, output));
        BMMClearReportedErrors();
        const Clock::time_point start = Clock::now();
        const BMMRES result = driver.WriteFrame(frame);
        summary.driverMs += MillisecondsSince(start);
        bar.End();
        if (result != kResultSuccess) {
            summary.status = result;
            return ConvertFailure(summary, output, DriverFailureText("cannot write frame", result));
        }
        summary.outputs.push_back(output);
        ++summary.frames;
    }
    return kExitSuccess;
}

int SaveOptionsFile(BitmapIO& driver, const std::string& path, ConvertSummary& summary)
{
    PicOptions options;
    if (!SaveDriverOptions(driver, options))
        return ConvertFailure(summary, path, "the driver hands out no options block");
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return ConvertFailure(summary, path,
                              std::string("cannot create (") + std::strerror(errno) + ")");
    const bool written = std::fwrite(&options, 1, sizeof options, file) == sizeof options;
    if (std::fclose(file) != 0 || !written)
        return ConvertFailure(summary, path,
                              std::string("cannot write (") + std::strerror(errno) + ")");
    return kExitSuccess;
}

} // namespace

int ConvertToPic(const Plugin& plugin, const ConvertJob& job, ProgressBar& bar,
                 ConvertSummary& summary)
{
    // Declared before the driver, so the driver goes first: it remembers the bitmap.
    BitmapManager manager;
    Bitmap bitmap(&manager);
    DriverPtr driver = plugin.NewDriver();
    if (!driver)
        return ConvertFailure(summary, plugin.Path(), "the plug-in made no driver");
    if (const int status = PrepareOptions(*driver, job, summary))
        return status;

    BitmapStorage* storage = BMMCreateStorage(&manager, kStorage64);
    if (storage == nullptr)
        return ConvertFailure(summary, job.output, "the host made no storage");
    bitmap.SetStorage(storage);

    BitmapInfo outputInfo;
    outputInfo.SetName(job.output.c_str()); // the parser kept it below kMaxPathLength
    outputInfo.SetUpdateWindow(bar.Window());
    BMMClearReportedErrors();
    const BMMRES opened = driver->OpenForWrite(&outputInfo, &bitmap);
    if (opened != kResultSuccess) {
        summary.status = opened;
        return ConvertFailure(summary, job.output,
                              DriverFailureText("cannot open for writing", opened));
    }
    if (const int status = WriteFrames(*driver, manager, *storage, job, bar, summary))
        return status;
    if (!job.saveOptionsPath.empty())
        if (const int status = SaveOptionsFile(*driver, job.saveOptionsPath, summary))
            return status;

    PicOptions options;
    if (SaveDriverOptions(*driver, options)) {
        summary.withAlpha = options.withAlpha == 1;
        summary.compressed = options.rgbCompressed == 1;
    }
    summary.ok = true;
    return kExitSuccess;
}

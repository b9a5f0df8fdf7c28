// PIC files to PNG or PAM images: a driver loads each file into a host
// storage with LoadImage, and its pixels are written out as they are stored.
#include <chrono>
#include <cstdio>

#include "host/bmm_functions.h"
#include "tools/pictool/convert_job.h"
#include "tools/pictool/pic_check.h"
#include "tools/pictool/progress_bar.h"

namespace {

using Clock = std::chrono::steady_clock;

// The storage's pixels, channel for channel.
bool CopyStorage(BitmapStorage& storage, HostImage& image, std::string& error)
{
    if (storage.Width() < 0 || storage.Height() < 0 ||
        !SizeHostImage(image, uint32_t(storage.Width()), uint32_t(storage.Height()), error))
        return false;
    std::vector<BMM_Color_64> row(image.width);
    uint16_t* channel = image.channels.data();
    for (uint32_t y = 0; y < image.height; ++y) {
        if (!storage.FetchRow(0, int(y), int(image.width), row.data())) {
            error = "the storage refused row " + std::to_string(y);
            return false;
        }
        for (const BMM_Color_64& pixel : row) {
            channel[0] = pixel.r;
            channel[1] = pixel.g;
            channel[2] = pixel.b;
            channel[3] = pixel.a;
            channel += 4;
        }
    }
    return true;
}

// A damaged file loads as far as its damage, status 0: say what was lost.
void WarnOfDamage(const std::string& input, ConvertSummary& summary)
{
    const PicFileCheck check = CheckPicFile(input);
    if (check.result != kResultSuccess || !check.rows.damaged)
        return;
    std::fprintf(stderr, "pictool: warning: %s: damaged: %s\n", input.c_str(),
                 DamageText(check).c_str());
    if (!summary.damaged)
        summary.damage = DamageJson(check);
    summary.damaged = true;
}

// Loads `input` and writes it to `output`; the exit status.
int ConvertOne(BitmapIO& driver, const ConvertJob& job, const std::string& input,
               const std::string& output, ProgressBar& bar, ConvertSummary& summary)
{
    BitmapManager manager;
    Bitmap bitmap(&manager);
    BitmapInfo info;
    info.SetName(input.c_str()); // the parser kept names below kMaxPathLength
    info.SetUpdateWindow(bar.Window());
    BMMRES status = kResultSuccess;
    BMMClearReportedErrors();
    const Clock::time_point start = Clock::now();
    BitmapStorage* storage = driver.LoadImage(&info, &bitmap, &status);
    summary.driverMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    bar.End();
    if (storage == nullptr) {
        summary.status = status;
        return ConvertFailure(summary, input, DriverFailureText("cannot load", status));
    }
    bitmap.SetStorage(storage);

    HostImage image;
    std::string error;
    if (!CopyStorage(*storage, image, error))
        return ConvertFailure(summary, input, error);
    image.hasAlpha = info.Type() == kImageType32WithAlpha;
    summary.width = image.width;
    summary.height = image.height;
    summary.withAlpha = image.hasAlpha;
    PicOptions options;
    if (SaveDriverOptions(driver, options))
        summary.compressed = options.rgbCompressed == 1;
    if (!WriteImageFile(output, job.outputFormat, job.pngDepth, image, error))
        return ConvertFailure(summary, output, error);
    WarnOfDamage(input, summary);
    return kExitSuccess;
}

} // namespace

int ConvertFromPic(const Plugin& plugin, const ConvertJob& job, ProgressBar& bar,
                   ConvertSummary& summary)
{
    DriverPtr driver = plugin.NewDriver();
    if (!driver)
        return ConvertFailure(summary, plugin.Path(), "the plug-in made no driver");
    const int count = job.sequence ? job.frames.Count() : 1;
    for (int index = 0; index < count; ++index) {
        const int frame = job.frames.first + index;
        const std::string input = job.sequence ? FrameName(job.inputPattern, frame) : job.input;
        const std::string output = job.sequence ? FrameName(job.outputPattern, frame) : job.output;
        if (input.size() >= size_t(kMaxPathLength))
            return ConvertFailure(summary, input, "name too long");
        summary.inputs.push_back(input);
        bar.Begin(ProgressLabel(job, index, input));
        if (const int status = ConvertOne(*driver, job, input, output, bar, summary))
            return status;
        summary.outputs.push_back(output);
        ++summary.frames;
    }
    summary.ok = true;
    return summary.damaged && !job.allowDamaged ? kExitFailure : kExitSuccess;
}

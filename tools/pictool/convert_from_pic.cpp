// PIC files to PNG or PAM images: a driver of the frame's own loads the file
// into a host storage with LoadImage, and its pixels are written out.
#include <chrono>
#include <cstdio>
#include <new>

#include "host/bmm_functions.h"
#include "tools/pictool/convert_job.h"
#include "tools/pictool/pic_check.h"
#include "tools/pictool/progress_bar.h"

namespace {

using Clock = std::chrono::steady_clock;

// The storage's pixels, channel for channel.
bool CopyStorage(BitmapStorage& storage, HostImage& image, std::string& error)
{
    if (storage.Width() <= 0 || storage.Height() <= 0) {
        error = "the storage holds no pixels";
        return false;
    }
    image.width = uint32_t(storage.Width());
    image.height = uint32_t(storage.Height());
    image.channels.assign(size_t(image.width) * image.height * 4, 0);
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
void NoteDamage(const std::string& input, FrameOutcome& outcome)
{
    const PicFileCheck check = CheckPicFile(input);
    if (check.result != kResultSuccess || !check.rows.damaged || check.readFailed)
        return;
    outcome.damaged = true;
    outcome.damage = DamageJson(check);
    outcome.error = "damaged: " + DamageText(check);
    outcome.errorFile = input;
}

FrameOutcome LoadAndWrite(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                          ProgressWindow& progress)
{
    DriverPtr driver = plugin.NewDriver();
    if (!driver)
        return FrameFailure(plugin.Path(), "the plug-in made no driver");
    BitmapManager manager;
    Bitmap bitmap(&manager);
    BitmapInfo info;
    info.SetName(task.input.c_str()); // the parser kept names below kMaxPathLength
    info.SetUpdateWindow(progress.Window());
    BMMRES status = kResultSuccess;
    progress.Begin(task.input);
    const Clock::time_point start = Clock::now();
    BitmapStorage* storage = driver->LoadImage(&info, &bitmap, &status);
    const double driverMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (storage == nullptr)
        return FrameFailure(task.input, DriverFailureText(task.input, status, DriverTask::Load),
                            status);
    bitmap.SetStorage(storage);

    HostImage image;
    std::string error;
    if (!CopyStorage(*storage, image, error))
        return FrameFailure(task.input, error);
    image.hasAlpha = info.Type() == kImageType32WithAlpha;
    FrameOutcome outcome;
    outcome.driverMs = driverMs;
    outcome.width = image.width;
    outcome.height = image.height;
    outcome.withAlpha = image.hasAlpha;
    outcome.haveOptions = SaveDriverOptions(*driver, outcome.options);
    outcome.compressed = outcome.haveOptions && outcome.options.rgbCompressed == 1;
    // Checked before the write: a check that fails (out of memory) must not
    // fail a frame whose file has already replaced the earlier one.
    NoteDamage(task.input, outcome);
    if (!WriteImageFile(task.output, job.outputFormat, job.depth, image, error))
        return FrameFailure(task.output, error);
    outcome.ok = true;
    return outcome;
}

} // namespace

FrameOutcome ConvertFrameFromPic(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                                 ProgressWindow& progress)
{
    try {
        if (task.input != "-")
            return LoadAndWrite(plugin, job, task, progress);
        // The driver reads named files: standard input goes to one first.
        ImageInput input;
        StagingFile staged;
        std::string error;
        if (!input.Open("-", error) || !staged.Fill(input, error))
            return FrameFailure(task.input, error);
        FrameTask named = task;
        named.input = staged.Path();
        FrameOutcome outcome = LoadAndWrite(plugin, job, named, progress);
        if (outcome.errorFile == staged.Path())
            outcome.errorFile = task.input;
        return outcome;
    } catch (const std::bad_alloc&) {
        return FrameFailure(task.input, "out of memory");
    }
}

// `pictool convert`: what the command line asked for, what each frame did,
// and the two directions (images to PIC through OpenForWrite and
// WriteFrame, PIC to images through LoadImage). All PIC work is done by
// drivers the plug-in makes, one driver per frame, so that frames can be
// converted on several threads at once.
#pragma once

#include <string>
#include <vector>

#include "driver/pic_options.h"
#include "host/host_api.h"
#include "tools/pictool/command.h"
#include "tools/pictool/failure_text.h"
#include "tools/pictool/image_io.h"
#include "tools/pictool/image_io_pattern.h"
#include "tools/pictool/options_file.h"
#include "tools/pictool/plugin_host.h"

class ProgressWindow;

// A flag the command line may set; unset keeps the driver's value.
enum class Switch { Unset, On, Off };

struct ConvertJob {
    std::string input;
    std::string output;
    ImageFormat outputFormat = ImageFormat::Unknown;
    bool toPic = false; // images -> PIC, else PIC -> PNG/PAM

    // A sequence: input (and output, when it holds a frame number) are name
    // patterns. A plain PIC output name is numbered by the driver.
    bool sequence = false;
    FrameRange frames;
    FramePattern inputPattern;
    bool outputNumbered = false;
    FramePattern outputPattern;

    // Towards PIC.
    Switch alpha = Switch::Unset;
    Switch compressed = Switch::Unset;
    bool commentGiven = false;
    std::string comment; // already cut to what the header holds
    float aspect = 1.0f;
    std::string optionsPath;     // --options
    OptionsBlock optionsBlock;   // its bytes, read while parsing
    std::string saveOptionsPath; // --save-options

    // Towards PNG or PAM.
    SampleDepth depth = SampleDepth::Eight;
    bool allowDamaged = false; // a damaged PIC input still exits 0

    uint64_t maxPixels = kMaxImagePixels;
    int jobs = 1;
    bool json = false;
    bool quiet = false;
};

// One frame of the run: its number (kSingleFrame for a single image) and names.
struct FrameTask {
    int frame = kSingleFrame;
    std::string input;
    std::string output;
};

// What one frame did.
struct FrameOutcome {
    bool ok = false;
    BMMRES status = kResultSuccess; // the driver's failing result, else 0
    std::string error;              // in words, without the file name
    std::string errorFile;          // the file the error is about
    uint32_t width = 0;
    uint32_t height = 0;
    bool withAlpha = false;  // the PIC written or read has alpha
    bool compressed = false; // its rows are run-length coded
    bool haveOptions = false;
    PicOptions options{}; // the driver's block after the frame
    double driverMs = 0.0;
    bool damaged = false; // the PIC input is damaged (its rows up to the damage were written)
    std::string damage = "null"; // its damage, as JSON
};

// Each converts one frame with a driver of its own; thread-safe.
FrameOutcome ConvertFrameToPic(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                               ProgressWindow& progress);
FrameOutcome ConvertFrameFromPic(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                                 ProgressWindow& progress);

// Shared by both directions.
// A failed outcome about `file`.
FrameOutcome FrameFailure(const std::string& file, const std::string& what,
                          BMMRES status = kResultSuccess);
// The driver's options block as the stored record, through SaveOptions;
// false when the driver will not hand it out.
bool SaveDriverOptions(BitmapIO& driver, PicOptions& options);

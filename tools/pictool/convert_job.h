// `pictool convert`: what the command line asked for, what the run did, and
// the two directions (PNG/PAM to PIC through WriteFrame, PIC to PNG/PAM
// through LoadImage). All PIC work is done by a driver the plug-in makes.
#pragma once

#include <string>
#include <vector>

#include "driver/pic_options.h"
#include "host/host_api.h"
#include "tools/pictool/command.h"
#include "tools/pictool/image_io.h"
#include "tools/pictool/image_io_pattern.h"
#include "tools/pictool/options_file.h"
#include "tools/pictool/plugin_host.h"

class ProgressBar;

// A flag the command line may set; unset keeps the driver's value.
enum class Switch { Unset, On, Off };

struct ConvertJob {
    std::string input;
    std::string output;
    ImageFormat outputFormat = ImageFormat::Unknown;
    bool toPic = false; // PNG/PAM -> PIC, else PIC -> PNG/PAM

    // A sequence: input (and, towards PNG/PAM, output) are name patterns.
    bool sequence = false;
    FrameRange frames;
    FramePattern inputPattern;
    FramePattern outputPattern; // PIC -> PNG/PAM sequences only

    // Towards PIC.
    Switch alpha = Switch::Unset;
    Switch compressed = Switch::Unset;
    bool commentGiven = false;
    std::string comment;
    float aspect = 1.0f;
    std::string optionsPath;     // --options
    OptionsBlock optionsBlock;   // its bytes, read while parsing
    std::string saveOptionsPath; // --save-options

    // Towards PNG.
    int pngDepth = 8;
    bool allowDamaged = false; // a damaged PIC input still exits 0

    bool json = false;
};

// What happened, for the --json summary and the exit status.
struct ConvertSummary {
    BMMRES status = kResultSuccess; // the driver's last failing result, else 0
    bool ok = false;
    std::string error;  // the message printed on stderr, if any
    uint32_t width = 0; // of the last frame converted
    uint32_t height = 0;
    bool withAlpha = false;  // the PIC written or read has alpha
    bool compressed = false; // its rows are run-length coded
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    int frames = 0;        // frames converted
    double driverMs = 0.0; // wall time inside LoadImage / WriteFrame
    bool damaged = false;  // some PIC input is damaged (its rows up to the damage were written)
    std::string damage = "null"; // the first damaged input's damage, as JSON
};

// Each returns the exit status, having printed any failure on stderr and
// recorded it in `summary`.
int ConvertToPic(const Plugin& plugin, const ConvertJob& job, ProgressBar& bar,
                 ConvertSummary& summary);
int ConvertFromPic(const Plugin& plugin, const ConvertJob& job, ProgressBar& bar,
                   ConvertSummary& summary);

// Shared by both directions.
// Prints "pictool: NAME: WHAT" on stderr, keeps it in the summary, answers 1.
int ConvertFailure(ConvertSummary& summary, const std::string& name, const std::string& what);
// "WHAT (result N: the host's recorded message)" for a driver failure.
std::string DriverFailureText(const char* what, BMMRES result);
// "frame 3/10 NAME" for sequences, NAME alone otherwise.
std::string ProgressLabel(const ConvertJob& job, int index, const std::string& name);
// The driver's options block as the stored record, through SaveOptions;
// false when the driver will not hand it out.
bool SaveDriverOptions(BitmapIO& driver, PicOptions& options);

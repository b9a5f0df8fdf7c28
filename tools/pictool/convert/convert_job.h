// `pictool convert`: what the command line asked for, what each frame did,
// and the three ways a frame goes: an image to PIC (its reader's rows into
// a host storage, then OpenForWrite and WriteFrame), PIC to an image
// (LoadImage, then the storage's rows to a writer) and PIC to PIC (LoadImage,
// then WriteFrame). All PIC work is done by drivers the plug-in makes, each
// frame with drivers of its own, so that frames can be converted on several
// threads at once. A frame's pixels are held once, in the host's storage;
// rows stream through it.
#pragma once

#include <string>
#include <vector>

#include "driver/pic_options.h"
#include "host/bitmap.h"
#include "host/host_api.h"
#include "pic/pic_header.h"
#include "tools/pictool/convert/failure_text.h"
#include "tools/pictool/convert/frame_pattern.h"
#include "tools/pictool/formats/image_format.h"
#include "tools/pictool/support/options_file.h"
#include "tools/pictool/support/plugin_host.h"

class ProgressWindow;

// A flag the command line may set; unset keeps the driver's value.
enum class Switch { Unset, On, Off };

struct ConvertJob {
    std::string input;
    std::string output;
    const ImageFormat* outputFormat = nullptr;
    bool toPic = false; // the output is PIC (from an image or a PIC file)

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
    bool aspectGiven = false;
    float aspect = 1.0f;
    bool premultiply = false;    // --premult: colour times alpha on the way in
    std::string optionsPath;     // --options
    OptionsBlock optionsBlock;   // its bytes, read while parsing
    std::string saveOptionsPath; // --save-options

    // Towards other formats.
    WriteSettings write;
    bool unpremultiply = false; // --unpremult: colour divided by alpha on the way out
    bool allowDamaged = false;  // a damaged PIC input still exits 0

    ReadSettings read; // --max-pixels and the other bounds; --part, --ch
    int jobs = 1;
    bool json = false;
    bool quiet = false;
    bool noClobber = false; // --no-clobber: outputs that exist are left alone
};

// The bytes of the header's comment field a user comment has: the field,
// less its zero byte and the driver's prefix.
constexpr size_t kCommentRoom = size_t(kPicCommentSize) - 1 - (sizeof kPicCommentPrefix - 1);

// One frame of the run: its number (kSingleFrame for a single image) and names.
struct FrameTask {
    int frame = kSingleFrame;
    std::string input;
    std::string output;
};

// What one frame did.
struct FrameOutcome {
    bool ok = false;
    // --no-clobber kept an output that came while the frame was made (ok too).
    bool skipped = false;
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
    uint32_t damageRow = 0;      // the first row that is not whole
    uint64_t damageOffset = 0;   // where that row's data begins in the file
    std::string damageReason;    // "cut short", ...
    // The output's aspect ratio and comment, and which of them came from the input.
    float aspect = 1.0f;
    std::string comment;
    std::vector<std::string> carried;
    // What the input's reader left behind (EXR parts, layers), one warning each.
    std::vector<std::string> warnings;
};

// Each converts one frame with drivers of its own; thread-safe.
FrameOutcome ConvertFrameToPic(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                               ProgressWindow& progress);
FrameOutcome ConvertFrameFromPic(const Plugin& plugin, const ConvertJob& job, const FrameTask& task,
                                 ProgressWindow& progress);

// A PIC file loaded by a driver of its own into `bitmap`'s storage.
struct LoadedPic {
    bool hasAlpha = false;
    bool haveOptions = false;
    PicOptions options{}; // the loading driver's block: the file's layout
    float aspect = 1.0f;
    std::string comment; // the header's, without the driver's prefix
    double driverMs = 0.0;
};
// LoadImage of `path` (a named file, of any length the system takes), once
// its header's size is within `maxPixels`; a failed outcome about `label`
// (the name the user gave) when it fails.
bool LoadPic(const Plugin& plugin, const std::string& path, const std::string& label,
             uint64_t maxPixels, Bitmap& bitmap, ProgressWindow& progress, LoadedPic& loaded,
             FrameOutcome& failure);
// Notes in `outcome` the damage a loaded file has, which loads without a failing result.
void NoteDamage(const std::string& input, const std::string& label, FrameOutcome& outcome);

// Shared by both directions.
// A failed outcome about `file`.
FrameOutcome FrameFailure(const std::string& file, const std::string& what,
                          BMMRES status = kResultSuccess);
// The outcome of a frame whose output --no-clobber kept as it was.
FrameOutcome FrameSkipped();
// The driver's options block as the stored record, through SaveOptions;
// false when the driver will not hand it out.
bool SaveDriverOptions(BitmapIO& driver, PicOptions& options);

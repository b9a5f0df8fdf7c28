// What a conversion is asked for, what each frame did, and the one call
// that converts a frame. Three ways a frame goes: an image to PIC (its
// reader's rows into a frame, then written as PIC), PIC to an image (a PIC
// file loaded into a frame, whose rows go to a writer) and PIC to PIC. How
// PIC files are loaded and written is the codec's (convert/pic_codec.h):
// the plug-in's drivers in pictool, pic/'s reader and writer elsewhere,
// which give the same pixels and the same bytes. A frame's pixels are held
// once, in the codec's frame; rows stream through it.
#pragma once

#include <string>
#include <vector>

#include "driver/pic_options.h"
#include "engine/formats/image_format.h"
#include "host/host_api.h"
#include "pic/pic_header.h"

class PicCodec;
class FrameProgress;

// A flag the caller may set; unset keeps the input's (or the block's) value.
enum class Switch { Unset, On, Off };

struct ConvertJob {
    const ImageFormat* outputFormat = nullptr;
    bool toPic = false; // the output is PIC (from an image or a PIC file)

    // Towards PIC.
    Switch alpha = Switch::Unset;
    Switch compressed = Switch::Unset;
    bool commentGiven = false;
    std::string comment; // already cut to what the header holds (FitUserComment)
    bool aspectGiven = false;
    float aspect = 1.0f;
    bool premultiply = false;      // colour times alpha on the way in
    bool haveOptionsBlock = false; // a saved block the writer starts from
    PicOptions optionsBlock{};     // its 96 bytes (signature checked)
    std::string optionsBlockName;  // for messages

    // Towards other formats.
    WriteSettings write;
    // write.depth Eight was asked for; without it a 16-bit PIC file gives
    // 16-bit samples where the format has them (8-bit files 8-bit samples).
    bool depthGiven = false;
    bool unpremultiply = false; // colour divided by alpha on the way out
    bool allowDamaged = false;  // a damaged PIC input is no failure
    // PIC inputs are loaded by pic/'s reader, which looks for the rows after
    // a run-length row that does not decode (LibraryPicCodec's salvage).
    bool salvage = false;

    ReadSettings read;      // the bounds on what inputs may cost; EXR part and channels
    bool noClobber = false; // outputs that exist are left alone
};

// The bytes of the header's comment field a user comment has: the field,
// less its zero byte and the driver's prefix.
constexpr size_t kCommentRoom = size_t(kPicCommentSize) - 1 - (sizeof kPicCommentPrefix - 1);

// One frame: its number (kSingleFrame for a single image) and names ("-"
// is standard input or output).
struct FrameTask {
    int frame = kSingleFrame;
    std::string input;
    std::string output;
};

// What one frame did.
struct FrameOutcome {
    bool ok = false;
    // An output that exists was kept (noClobber); ok too.
    bool skipped = false;
    BMMRES status = kResultSuccess; // the failing result code, else 0
    std::string error;              // in words, without the file name
    std::string errorFile;          // the file the error is about
    uint32_t width = 0;
    uint32_t height = 0;
    bool withAlpha = false;  // the PIC written or read has alpha
    bool compressed = false; // its rows are run-length coded
    bool haveOptions = false;
    PicOptions options{}; // the PIC side's options block after the frame
    double driverMs = 0.0;
    bool damaged = false; // the PIC input is damaged (its rows up to the damage were written)
    std::string damage = "null"; // its damage, as JSON
    uint32_t damageRow = 0;      // the first row that is not whole
    uint64_t damageOffset = 0;   // where that row's data begins in the file
    std::string damageReason;    // "cut short", ...
    // With salvage asked for: what it did, as JSON (PicSalvageJson); "" without.
    std::string salvage;
    // The output's aspect ratio and comment, and which of them came from the input.
    float aspect = 1.0f;
    std::string comment;
    std::vector<std::string> carried;
    // What the input's reader left behind (EXR parts, layers), one warning each.
    std::vector<std::string> warnings;
};

// Converts one frame as `job` says, PIC files through `codec`; thread-safe
// where the codec is (each thread may have a codec of its own).
FrameOutcome ConvertFrame(PicCodec& codec, const ConvertJob& job, const FrameTask& task,
                          FrameProgress& progress);

// A failed outcome about `file`.
FrameOutcome FrameFailure(const std::string& file, const std::string& what,
                          BMMRES status = kResultSuccess);
// The outcome of a frame whose output was kept as it was.
FrameOutcome FrameSkipped();

// `comment` cut, between characters, to what the header keeps after the
// driver's prefix; true when it had to be cut.
bool FitUserComment(std::string& comment);

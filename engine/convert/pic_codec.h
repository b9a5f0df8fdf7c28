// How the convert pipeline loads and writes PIC files: a codec. Two give
// the same pixels and the same bytes for the same input and options: the
// plug-in's drivers (pictool's, tools/pictool/convert/driver_codec.h), and
// pic/'s reader and writer (LibraryPicCodec, convert/library_codec.h), for
// programs that never load the plug-in. The pipeline reads each PIC input
// once (convert/pic_input.h) and hands the codec its bytes; the rules of
// what is written (alpha, layout, comment, aspect) are the pipeline's, and
// reach either codec as the driver's options block.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "driver/pic_options.h"
#include "engine/convert/convert_job.h"
#include "engine/convert/pic_input.h"
#include "pic/pic_image.h"

// Progress of the frame being worked on, from any codec or reader.
class FrameProgress {
public:
    virtual ~FrameProgress() = default;
    // Names the frame the next steps are about.
    virtual void Begin(const std::string& label) = 0;
    // `done` of `total` of that frame.
    virtual void Step(long long done, long long total) = 0;
};

// A picture held once, row by row, as host pixels: four 16-bit channels a
// pixel, red, green, blue, alpha, each an 8-bit value << 8, or as the driver
// loads a 16-bit file, its 16-bit values as they are (convert/wide_rows.h).
class Frame {
public:
    virtual ~Frame() = default;
    virtual uint32_t Width() const = 0;
    virtual uint32_t Height() const = 0;
    // 4 * Width() channels; false with a message.
    virtual bool StoreRow(uint32_t y, const uint16_t* channels, std::string& error) = 0;
    virtual bool FetchRow(uint32_t y, uint16_t* channels, std::string& error) = 0;
};

// What a load gives besides the frame.
struct PicLoaded {
    std::unique_ptr<Frame> frame;
    bool hasAlpha = false;
    float aspect = 1.0f;
    bool haveOptions = false;
    PicOptions options{}; // a loader's options after the load: the file's layout
    PicImageFacts facts;  // pic/'s reading of the rows: how far they are whole
    double driverMs = 0.0;
};

class PicCodec {
public:
    virtual ~PicCodec() = default;

    // Loads the PIC file `input` holds (a header that reads, its size
    // within the job's limits checked). False with `failure` (about `label`,
    // the name the user gave) when it cannot be loaded; a damaged file loads.
    virtual bool Load(PicInput& input, const std::string& label, uint64_t maxPixels,
                      FrameProgress& progress, PicLoaded& loaded, FrameOutcome& failure) = 0;
    // An empty frame of `width` x `height` (each at most kMaxImageSide) for
    // an image to be written as PIC; null with `error` (`noStorage` true
    // when nothing could be made at all).
    virtual std::unique_ptr<Frame> NewFrame(uint32_t width, uint32_t height, std::string& error,
                                            bool& noStorage) = 0;
    // The options block a writer starts from; false with `error`.
    virtual bool StartingOptions(PicOptions& options, std::string& error) = 0;
    // Writes `frame` as a PIC file under `writerName` (a file of the
    // caller's, which commits it) with `options` and `aspect`; false with
    // `failure` about `label`. `written` gets the options after the write
    // and the time taken.
    virtual bool Write(Frame& frame, const PicOptions& options, float aspect,
                       const std::string& writerName, const std::string& label,
                       FrameProgress& progress, FrameOutcome& written) = 0;
};

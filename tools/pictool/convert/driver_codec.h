// DriverPicCodec: PIC files loaded and written by drivers the plug-in makes,
// as the host does: LoadImage into a host storage, OpenForWrite and
// WriteFrame from one. Each load and each write has a driver of its own.
// A PIC input, read once into memory by the pipeline, is loaded from its
// memory file (/proc/self/fd/N), so that the driver's own LoadImage reads
// it; where the system has no memory file (Windows), from its own name, or
// from a staged copy of a stream. One codec per thread: it sends the
// drivers' progress to that thread's window.
#pragma once

#include <memory>
#include <string>

#include "engine/convert/pic_codec.h"
#include "host/host_api.h"
#include "tools/pictool/convert/progress_bar.h"
#include "tools/pictool/support/plugin_host.h"

class ShortName;
class StagingFile;

class DriverPicCodec : public PicCodec {
public:
    DriverPicCodec(const Plugin& drivers, ProgressWindow& progress)
        : plugin(drivers), window(progress)
    {
    }

    bool Load(PicInput& input, const std::string& label, uint64_t maxPixels,
              FrameProgress& progress, PicLoaded& loaded, FrameOutcome& failure) override;
    std::unique_ptr<Frame> NewFrame(uint32_t width, uint32_t height, std::string& error,
                                    bool& noStorage) override;
    bool StartingOptions(PicOptions& options, std::string& error) override;
    bool Write(Frame& frame, const PicOptions& options, float aspect, const std::string& writerName,
               const std::string& label, FrameProgress& progress, FrameOutcome& written) override;

private:
    const Plugin& plugin;
    ProgressWindow& window;
};

// The driver's options block as the stored record, through SaveOptions;
// false when the driver will not hand it out.
bool SaveDriverOptions(BitmapIO& driver, PicOptions& options);

// A driver's failing result in words, for the codes whose words do not
// depend on the file: "out of memory", ..., else the host's record of the
// error about `file` (or `given`, the name the driver was handed), else
// "failed (result N)".
std::string DriverResultText(BMMRES result, const std::string& file, const std::string& given = "");

// A name a driver opens to read the bytes `input` holds: its memory file,
// else (no memory file here) the file's own name or one the host's field
// holds (`shortName`), or a copy of a stream (`staged`). Empty with `error`
// when none can be had. The objects given keep the name valid.
std::string DriverInputName(PicInput& input, std::unique_ptr<ShortName>& shortName,
                            std::unique_ptr<StagingFile>& staged, std::string& error);

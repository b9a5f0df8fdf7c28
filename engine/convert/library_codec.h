// LibraryPicCodec: PIC files loaded and written by pic/ alone, for programs
// that do not load the plug-in (picfile). It gives what the plug-in's
// drivers give: pic/'s reader keeps the pixels the driver loads (rows up to
// a run-length row that does not decode, raw bytes past the end as 255,
// alpha 0 without alpha), its writer is the driver's own (PicRowWriter),
// fed the high byte of each host channel, with the header's comment
// composed as the driver composes it (ComposeHeaderComment). Frames hold
// 8-bit samples, half of what a host storage takes, or the 16-bit values of
// a 16-bit file. A codec made to salvage loads a damaged file's rows after
// the damage too (PicReadRequest::salvage), lost rows transparent black.
// Stateless: one codec serves every thread.
#pragma once

#include "engine/convert/pic_codec.h"

class LibraryPicCodec : public PicCodec {
public:
    explicit LibraryPicCodec(bool salvageRows = false) : salvage(salvageRows) {}

    bool Load(PicInput& input, const std::string& label, uint64_t maxPixels,
              FrameProgress& progress, PicLoaded& loaded, FrameOutcome& failure) override;
    std::unique_ptr<Frame> NewFrame(uint32_t width, uint32_t height, std::string& error,
                                    bool& noStorage) override;
    bool StartingOptions(PicOptions& options, std::string& error) override;
    bool Write(Frame& frame, const PicOptions& options, float aspect, const std::string& writerName,
               const std::string& label, FrameProgress& progress, FrameOutcome& written) override;

private:
    bool salvage;
};

#include "engine/convert/library_codec.h"

#include <cstring>
#include <new>

#include "engine/convert/failure_text.h"
#include "engine/formats/image_output.h"
#include "pic/byte_sink.h"
#include "pic/pic_row_writer.h"

namespace {

// Samples of 8 or 16 bits, 3 (RGB) or 4 (RGBA) a pixel, as host channels:
// an 8-bit sample v as v << 8, a 16-bit one as it is, but for an 8-bit
// channel of a 16-bit picture (`bits`), which pic/'s reader gives as v * 257
// and the driver loads as v << 8. A frame of 3 reads alpha 0, as the driver
// loads a file without alpha.
template <typename Sample> class SamplesFrame : public Frame {
public:
    SamplesFrame(uint32_t frameWidth, uint32_t frameHeight, int samples,
                 std::unique_ptr<Sample[]> values, const uint8_t* bits = nullptr)
        : width(frameWidth), height(frameHeight), channels(samples), pixels(std::move(values))
    {
        for (int c = 0; c < 4; ++c)
            keep[c] = bits != nullptr && bits[c] == kPacketBits8 ? 0xFF00 : 0xFFFF;
    }
    uint32_t Width() const override { return width; }
    uint32_t Height() const override { return height; }
    bool StoreRow(uint32_t y, const uint16_t* row, std::string&) override
    {
        Sample* out = pixels.get() + size_t(y) * width * size_t(channels);
        for (uint32_t x = 0; x < width; ++x, row += 4)
            for (int c = 0; c < channels; ++c)
                *out++ = Sample(kWide ? row[c] : row[c] >> 8);
        return true;
    }
    bool FetchRow(uint32_t y, uint16_t* row, std::string&) override
    {
        const Sample* in = pixels.get() + size_t(y) * width * size_t(channels);
        for (uint32_t x = 0; x < width; ++x, row += 4, in += channels) {
            for (int c = 0; c < 3; ++c)
                row[c] = Channel(in[c], c);
            row[3] = channels == 4 ? Channel(in[3], 3) : 0;
        }
        return true;
    }

private:
    static constexpr bool kWide = sizeof(Sample) == 2;

    uint16_t Channel(Sample sample, int c) const
    {
        return kWide ? uint16_t(sample & keep[c]) : uint16_t(sample << 8);
    }

    uint32_t width;
    uint32_t height;
    int channels;
    std::unique_ptr<Sample[]> pixels;
    uint16_t keep[4];
};

using BytesFrame = SamplesFrame<uint8_t>;

// The high bytes of a row of host pixels, into every array the writer asks for.
void NarrowRow(const uint16_t* row, uint32_t width, const PicRowArrays& arrays)
{
    for (uint32_t x = 0; x < width; ++x, row += 4) {
        const uint8_t red = uint8_t(row[0] >> 8), green = uint8_t(row[1] >> 8);
        const uint8_t blue = uint8_t(row[2] >> 8);
        if (arrays.red != nullptr) {
            arrays.red[x] = red;
            arrays.green[x] = green;
            arrays.blue[x] = blue;
        }
        if (arrays.rgb != nullptr) {
            arrays.rgb[3 * x] = red;
            arrays.rgb[3 * x + 1] = green;
            arrays.rgb[3 * x + 2] = blue;
        }
        if (arrays.alpha != nullptr)
            arrays.alpha[x] = uint8_t(row[3] >> 8);
    }
}

// The frame's rows through `writer` to `file`; false with `error`.
bool WriteRows(Frame& frame, const PicOptions& options, float aspect, FILE* file,
               FrameProgress& progress, std::string& error)
{
    const PicWriteOptions layout = PicWriteOptionsOf(options, aspect);
    PicByteSink sink(file);
    PicRowWriter writer(sink);
    const uint32_t width = frame.Width(), height = frame.Height();
    PicWriteResult result = writer.Start(width, height, options.withAlpha == 1, layout);
    std::vector<uint16_t> row(size_t(width) * 4);
    for (uint32_t y = 0; y < height && result == PicWriteResult::Written; ++y) {
        if (!frame.FetchRow(y, row.data(), error))
            return false;
        NarrowRow(row.data(), width, writer.Row());
        result = writer.WriteRow();
        progress.Step(y + 1, height);
    }
    const bool flushed = sink.Flush() == 1;
    if (result == PicWriteResult::TooLarge)
        error = PicTooLargeText();
    else if (result == PicWriteResult::NoMemory)
        throw std::bad_alloc();
    else if (result != PicWriteResult::Written || !flushed)
        error = "write failed";
    return error.empty();
}

} // namespace

bool LibraryPicCodec::Load(PicInput& input, const std::string& label, uint64_t maxPixels,
                           FrameProgress& progress, PicLoaded& loaded, FrameOutcome& failure)
{
    progress.Begin(label);
    PicReadRequest request;
    request.maxPixels = maxPixels;
    request.depth = PicDepth::Stored;
    request.salvage = salvage;
    PicImage image = ReadPicImageMemory(input.bytes.Data(), input.bytes.Size(), request);
    if (image.facts.status == PicImageStatus::NoMemory)
        throw std::bad_alloc();
    if (image.facts.status != PicImageStatus::Ok) {
        failure = FrameFailure(label, PicLoadFailureText(input, image.facts), kResultBadHeader);
        return false;
    }
    loaded.facts = std::move(image.facts);
    const PicImageFacts& facts = loaded.facts;
    if (image.bits == 16) {
        uint8_t bits[4];
        PicChannelBits(facts.packets, bits);
        loaded.frame = std::make_unique<SamplesFrame<uint16_t>>(
            facts.width, facts.height, facts.Channels(), std::move(image.pixels16), bits);
    } else {
        loaded.frame = std::make_unique<BytesFrame>(facts.width, facts.height, facts.Channels(),
                                                    std::move(image.pixels));
    }
    loaded.hasAlpha = facts.Alpha();
    loaded.aspect = facts.aspect;
    loaded.haveOptions = true;
    loaded.options = DefaultPicOptions();
    ApplyPacketsToOptions(facts.packets, loaded.options.withAlpha, loaded.options.rgbCompressed,
                          loaded.options.alphaCompressed);
    progress.Step(facts.height, facts.height);
    return true;
}

std::unique_ptr<Frame> LibraryPicCodec::NewFrame(uint32_t width, uint32_t height,
                                                 std::string& error, bool&)
{
    // Alpha is kept whatever the image had: the options may ask for it.
    std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[size_t(width) * height * 4]());
    if (pixels == nullptr) {
        error = kNoFrameMemoryText;
        return nullptr;
    }
    return std::make_unique<BytesFrame>(width, height, 4, std::move(pixels));
}

bool LibraryPicCodec::StartingOptions(PicOptions& options, std::string&)
{
    options = DefaultPicOptions();
    return true;
}

bool LibraryPicCodec::Write(Frame& frame, const PicOptions& options, float aspect,
                            const std::string& writerName, const std::string& label,
                            FrameProgress& progress, FrameOutcome& written)
{
    progress.Begin(label);
    ImageOutput output;
    std::string error;
    FILE* file = output.Open(writerName, error);
    const bool rows = file != nullptr && WriteRows(frame, options, aspect, file, progress, error);
    if (file == nullptr || !output.Close(rows, error)) {
        written = FrameFailure(label, error, kResultSystemError);
        return false;
    }
    written.haveOptions = true;
    written.options = options;
    return true;
}

// Reads EXR files through OpenEXR: the part and channels exr_channels.h
// chooses, over the display window. Pixels of the display window outside
// the data window are black, and transparent where the file has alpha; data
// outside the display window is left out (as oiiotool writes a file to a
// format without windows). Half and float samples are clamped to [0, 1],
// times 255 and rounded; unsigned int samples are scaled from 0 to
// 2^32 - 1, as 16-bit samples are from 0 to 65535. Luminance-chroma (Y, RY,
// BY) becomes RGB through OpenEXR's RGBA interface, which knows the file's
// chromaticities and chroma filter.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfPartType.h>
#include <ImfRgbaFile.h>
#include <ImfStandardAttributes.h>
#include <ImfTileDescription.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "engine/formats/exr_channels.h"
#include "engine/formats/exr_format.h"
#include "engine/formats/exr_header_check.h"
#include "engine/formats/exr_streams.h"
#include "engine/formats/image_input.h"

namespace {

// Scanlines in one block of each compression, as OpenEXR stores them; the
// largest for one it may add.
int LinesPerBlock(Imf::Compression compression)
{
    switch (compression) {
    case Imf::NO_COMPRESSION:
    case Imf::RLE_COMPRESSION:
    case Imf::ZIPS_COMPRESSION:
        return 1;
    case Imf::ZIP_COMPRESSION:
    case Imf::PXR24_COMPRESSION:
        return 16;
    case Imf::PIZ_COMPRESSION:
    case Imf::B44_COMPRESSION:
    case Imf::B44A_COMPRESSION:
    case Imf::DWAA_COMPRESSION:
        return 32;
    default:
        return 256; // DWAB
    }
}

std::vector<ExrPart> PartsOf(const Imf::MultiPartInputFile& file)
{
    std::vector<ExrPart> parts(size_t(file.parts()));
    for (size_t index = 0; index < parts.size(); ++index) {
        const Imf::Header& header = file.header(int(index));
        ExrPart& part = parts[index];
        part.name = header.hasName() ? header.name() : std::string();
        part.deep = header.hasType() && Imf::isDeepData(header.type());
        for (auto channel = header.channels().begin(); channel != header.channels().end();
             ++channel)
            part.channels.push_back(
                {channel.name(), channel.channel().xSampling, channel.channel().ySampling});
    }
    return parts;
}

// What one block or tile of `header` takes decoded, with all its channels
// (OpenEXR decodes them all, whichever are asked for), and the rows a band
// of the reader holds: one block's or one row of tiles'.
bool CheckExrBlocks(const Imf::Header& header, const ReadSettings& settings, uint32_t& bandRows,
                    std::string& error)
{
    const Imath::Box2i window = header.dataWindow();
    const uint64_t width = uint64_t(int64_t(window.max.x) - window.min.x + 1);
    uint64_t pixelBytes = 0;
    int channels = 0;
    for (auto channel = header.channels().begin(); channel != header.channels().end();
         ++channel, ++channels)
        pixelBytes += channel.channel().type == Imf::HALF ? 2 : 4;
    uint64_t across = width, down = uint64_t(LinesPerBlock(header.compression()));
    std::string shape = "blocks of ";
    if (header.hasTileDescription()) {
        across = header.tileDescription().xSize;
        down = header.tileDescription().ySize;
        shape = "tiles of ";
    }
    bandRows = uint32_t(down < kMaxImageSide ? down : kMaxImageSide);
    return CheckBlockBytes(across * down * pixelBytes,
                           shape + std::to_string(across) + " x " + std::to_string(down) +
                               " with " + std::to_string(channels) + " channels",
                           settings, error);
}

// The choice's channels, read as 32-bit words: float bits, or unsigned ints.
struct Slot {
    const char* name = nullptr; // null: not in the file
    bool unsignedInt = false;
};

class ExrSource : public RowSource {
public:
    ExrSource(ImageInput& from, const ReadSettings& asked) : input(from), settings(asked) {}

    bool Start(ImageHeader& header, std::string& error) override
    {
        if (input.Size() == 0) {
            error = "EXR is read from named files only";
            return false;
        }
        LimitExrSizes();
        if (!CheckExrHeader(input, error))
            return false;
        try {
            return Open(header, error);
        } catch (const std::exception& failure) {
            error = CorruptExr(failure);
            return false;
        }
    }

    bool Row(uint16_t* pixel, std::string& error) override
    {
        const int64_t y = int64_t(display.min.y) + next++;
        const bool inData = y >= data.min.y && y <= data.max.y;
        if (inData && (y < bandTop || y >= bandTop + int64_t(bandRows)) && !FillBand(y, error))
            return false;
        const uint16_t padAlpha = alpha ? 0 : kOpaqueAlpha;
        for (int64_t x = display.min.x; x <= display.max.x; ++x, pixel += 4) {
            if (!inData || x < data.min.x || x > data.max.x) {
                pixel[0] = pixel[1] = pixel[2] = 0;
                pixel[3] = padAlpha;
                continue;
            }
            const size_t at = size_t(y - bandTop) * dataWidth + size_t(x - data.min.x);
            if (lumaChroma) {
                const Imf::Rgba& rgba = chromaBand[at];
                const float values[4] = {rgba.r, rgba.g, rgba.b, rgba.a};
                for (int c = 0; c < 4; ++c)
                    pixel[c] = uint16_t(FloatTo8(values[c]) << 8);
            } else {
                const uint32_t* words = band.data() + at * 4;
                for (int c = 0; c < 4; ++c) {
                    const int slot = grey && c < 3 ? 0 : c;
                    pixel[c] = uint16_t(Sample(slot, words[slot]) << 8);
                }
            }
            if (!alpha)
                pixel[3] = kOpaqueAlpha;
        }
        return true;
    }

private:
    bool Open(ImageHeader& header, std::string& error)
    {
        if (!input.Seek(0)) {
            error = "EXR cannot be read again from its start";
            return false;
        }
        stream = std::make_unique<ExrInputStream>(input);
        file = std::make_unique<Imf::MultiPartInputFile>(*stream, 0);
        ExrChoice choice;
        if (!ChooseExrChannels(PartsOf(*file), settings.part, settings.channels, choice, error))
            return false;
        const Imf::Header& exr = file->header(choice.part);
        display = exr.displayWindow();
        data = exr.dataWindow();
        const int64_t across = int64_t(display.max.x) - display.min.x + 1;
        const int64_t down = int64_t(display.max.y) - display.min.y + 1;
        if (!CheckImageSize(uint64_t(across > 0 ? across : 0), uint64_t(down > 0 ? down : 0),
                            settings.maxPixels, error) ||
            !CheckExrBlocks(exr, settings, bandRows, error))
            return false;
        dataWidth = size_t(int64_t(data.max.x) - data.min.x + 1);
        header.width = uint32_t(across);
        header.height = uint32_t(down);
        header.hasAlpha = alpha = !choice.names[3].empty();
        header.haveAspect = AspectIsKnown(exr.pixelAspectRatio());
        header.aspect = exr.pixelAspectRatio();
        if (Imf::hasComments(exr) && !Imf::comments(exr).empty()) {
            header.haveComment = true;
            header.comment = Imf::comments(exr);
        }
        header.notes = choice.notes;
        lumaChroma = choice.colour == ExrColour::LumaChroma;
        return lumaChroma ? OpenLumaChroma(choice, error) : OpenChannels(exr, choice, error);
    }

    bool OpenChannels(const Imf::Header& exr, const ExrChoice& choice, std::string& error)
    {
        grey = choice.colour == ExrColour::Grey;
        for (int c = 0; c < 4; ++c) {
            if (choice.names[c].empty())
                continue;
            const Imf::Channel* channel = exr.channels().findChannel(choice.names[c]);
            if (channel->xSampling != 1 || channel->ySampling != 1) {
                error = "EXR channel " + choice.names[c] + " is subsampled (" +
                        std::to_string(channel->xSampling) + " x " +
                        std::to_string(channel->ySampling) +
                        "), which is read only as luminance-chroma";
                return false;
            }
            names[c] = choice.names[c];
            slots[c].name = names[c].c_str();
            slots[c].unsignedInt = channel->type == Imf::UINT;
        }
        part = std::make_unique<Imf::InputPart>(*file, choice.part);
        band.resize(dataWidth * bandRows * 4);
        return true;
    }

    // OpenEXR's RGBA interface reads luminance-chroma from a file's first part.
    bool OpenLumaChroma(const ExrChoice& choice, std::string& error)
    {
        if (choice.part != 0) {
            error = "EXR part " + std::to_string(choice.part) +
                    " holds luminance-chroma, which is read only from part 0";
            return false;
        }
        file.reset();
        if (!input.Seek(0)) {
            error = "EXR cannot be read again from its start";
            return false;
        }
        rgbaFile = std::make_unique<Imf::RgbaInputFile>(*stream, choice.layer, 0);
        chromaBand.resize(dataWidth * bandRows);
        return true;
    }

    uint8_t Sample(int slot, uint32_t word) const
    {
        if (slots[slot].name == nullptr)
            return 0;
        if (slots[slot].unsignedInt)
            return ScaleTo8(word, UINT32_MAX);
        float value;
        std::memcpy(&value, &word, sizeof value);
        return FloatTo8(value);
    }

    // The band of data rows from `y` on.
    bool FillBand(int64_t y, std::string& error)
    {
        bandTop = y;
        const int64_t last = std::min<int64_t>(y + bandRows - 1, data.max.y);
        try {
            if (lumaChroma) {
                // OpenEXR addresses pixel (x, y) of the data window from the base.
                Imf::Rgba* base = chromaBand.data() - y * int64_t(dataWidth) - data.min.x;
                rgbaFile->setFrameBuffer(base, 1, dataWidth);
                rgbaFile->readPixels(int(y), int(last));
                return true;
            }
            const size_t xStride = 4 * sizeof(uint32_t);
            const size_t yStride = xStride * dataWidth;
            char* base = reinterpret_cast<char*>(band.data()) - y * int64_t(yStride) -
                         int64_t(data.min.x) * int64_t(xStride);
            Imf::FrameBuffer frame;
            for (int c = 0; c < 4; ++c)
                if (slots[c].name != nullptr)
                    frame.insert(slots[c].name,
                                 Imf::Slice(slots[c].unsignedInt ? Imf::UINT : Imf::FLOAT,
                                            base + c * sizeof(uint32_t), xStride, yStride));
            part->setFrameBuffer(frame);
            part->readPixels(int(y), int(last));
        } catch (const std::exception& failure) {
            error = CorruptExr(failure);
            return false;
        }
        return true;
    }

    ImageInput& input;
    ReadSettings settings;
    std::unique_ptr<ExrInputStream> stream;
    std::unique_ptr<Imf::MultiPartInputFile> file;
    std::unique_ptr<Imf::InputPart> part;
    std::unique_ptr<Imf::RgbaInputFile> rgbaFile;
    Imath::Box2i display, data;
    size_t dataWidth = 0;
    bool alpha = false, grey = false, lumaChroma = false;
    std::string names[4];
    Slot slots[4];
    std::vector<uint32_t> band;
    std::vector<Imf::Rgba> chromaBand;
    uint32_t bandRows = 1;
    int64_t bandTop = INT64_MIN; // no band read yet
    uint32_t next = 0;
};

} // namespace

std::unique_ptr<RowSource> NewExrReader(ImageInput& input, const ReadSettings& settings)
{
    return std::make_unique<ExrSource>(input, settings);
}

// OpenEXR files through the OpenEXR library; read in exr_reader.cpp.
// Written: RGB or RGBA as half floats, value / 255, ZIP compression, no
// colour transform; a 16-bit picture as 32-bit floats, value / 65535, which
// keep every 16-bit value (a half keeps 11 bits). The pixel aspect ratio travels as
// pixelAspectRatio (1, which every EXR must hold, where the aspect is unknown), the comment as the
// comments attribute.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <half.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "engine/formats/exr_format.h"
#include "engine/formats/exr_streams.h"
#include "engine/formats/image_output.h"
#include "engine/support/system_error_text.h"

namespace {

// Rows written at a time: a ZIP block is 16 scanlines (and the line offset
// table has one entry for each).
constexpr uint32_t kBandRows = 16;

class ExrSink : public RowSink {
public:
    explicit ExrSink(const std::string& name) : path(name) {}

    bool Start(const ImageHeader& header, std::string& error) override
    {
        LimitExrSizes();
        FILE* handle = output.Open(path, error);
        if (handle == nullptr)
            return false;
        width = header.width;
        height = header.height;
        alpha = header.hasAlpha;
        sixteenBit = header.sixteenBit;
        const Imf::PixelType type = sixteenBit ? Imf::FLOAT : Imf::HALF;
        try {
            stream = std::make_unique<ExrOutputStream>(handle, path.c_str());
            const bool aspect = header.haveAspect && AspectIsKnown(header.aspect);
            Imf::Header exr(int(width), int(height), aspect ? header.aspect : 1.0f);
            exr.compression() = Imf::ZIP_COMPRESSION;
            for (const char* name : {"R", "G", "B", "A"})
                if (alpha || std::strcmp(name, "A") != 0)
                    exr.channels().insert(name, Imf::Channel(type));
            if (header.haveComment && !header.comment.empty())
                Imf::addComments(exr, header.comment);
            file = std::make_unique<Imf::OutputFile>(*stream, exr, 0);
            // The header is followed by a placeholder for the offsets of the
            // blocks, one 64-bit word each, filled in as the file closes.
            const size_t blocks = (height + kBandRows - 1) / kBandRows;
            stream->WatchOffsets(stream->tellp() - blocks * sizeof(uint64_t), blocks);
        } catch (const std::exception& failure) {
            return Fail(failure, error);
        }
        if (sixteenBit)
            floats.resize(size_t(width) * kBandRows * 4);
        else
            halves.resize(size_t(width) * kBandRows * 4);
        return true;
    }

    bool Row(const uint16_t* pixel, std::string& error) override
    {
        const size_t at = size_t(next - bandStart) * width * 4;
        for (size_t x = 0; x < size_t(width) * 4; x += 4, pixel += 4) {
            for (int c = 0; c < 4; ++c) {
                if (sixteenBit)
                    floats[at + x + size_t(c)] = float(pixel[c]) / 65535.0f;
                else
                    halves[at + x + size_t(c)] = half(float(High8(pixel[c])) / 255.0f);
            }
        }
        ++next;
        if (next - bandStart < kBandRows && next < height)
            return true;
        const size_t size = sixteenBit ? sizeof(float) : sizeof(half);
        const size_t xStride = 4 * size;
        const size_t yStride = xStride * width;
        char* band = sixteenBit ? reinterpret_cast<char*>(floats.data())
                                : reinterpret_cast<char*>(halves.data());
        char* base = band - int64_t(bandStart) * int64_t(yStride);
        Imf::FrameBuffer frame;
        const char* names[4] = {"R", "G", "B", "A"};
        for (int c = 0; c < (alpha ? 4 : 3); ++c)
            frame.insert(names[c], Imf::Slice(sixteenBit ? Imf::FLOAT : Imf::HALF, base + c * size,
                                              xStride, yStride));
        try {
            file->setFrameBuffer(frame);
            file->writePixels(int(next - bandStart));
        } catch (const std::exception& failure) {
            return Fail(failure, error);
        }
        bandStart = next;
        return true;
    }

    bool Finish(std::string& error) override
    {
        // The destructor writes the line offsets, and swallows what fails
        // there: the stream keeps it.
        file.reset();
        if (!failed && stream != nullptr && stream->Failure() != 0) {
            failed = true;
            error = SystemErrorText(stream->Failure());
        } else if (!failed && stream != nullptr && !stream->OffsetsWritten()) {
            failed = true; // OpenEXR swallowed a failure making a block
            error = "EXR error: a block of rows was not written (out of memory?)";
        }
        return output.Close(!failed, error);
    }

private:
    bool Fail(const std::exception& failure, std::string& error)
    {
        failed = true;
        error = stream != nullptr && stream->Failure() != 0
                    ? SystemErrorText(stream->Failure())
                    : std::string("EXR error: ") + failure.what();
        return false;
    }

    std::string path;
    ImageOutput output;
    std::unique_ptr<ExrOutputStream> stream;
    std::unique_ptr<Imf::OutputFile> file;
    uint32_t width = 0, height = 0;
    bool alpha = false;
    bool sixteenBit = false;
    std::vector<half> halves;  // a band of rows, for HALF channels
    std::vector<float> floats; // or for FLOAT ones
    uint32_t bandStart = 0, next = 0;
    bool failed = false;
};

bool SniffExr(const uint8_t* head, size_t count)
{
    return count >= 4 && head[0] == 0x76 && head[1] == 0x2F && head[2] == 0x31 && head[3] == 0x01;
}

std::unique_ptr<RowSink> NewExrWriter(const std::string& path, const WriteSettings&)
{
    return std::make_unique<ExrSink>(path);
}

} // namespace

extern const ImageFormat kExrFormat = {
    "EXR",
    "exr",
    SniffExr,
    NewExrReader,
    NewExrWriter,
    false,
    true,
    true,
    true,
    false,
    false,
    "RGB, RGBA, Y, YA, luminance-chroma; half, float or uint; scanlines\n"
    "           or tiles; any part and layer (--part, --ch); the display\n"
    "           window; pixelAspectRatio, comments",
    "RGB or RGBA, half float, value / 255 (16-bit PIC: float,\n"
    "           value / 65535), ZIP; pixelAspectRatio, comments",
};

// TIFF files through libtiff; read in tiff_reader.cpp. Written: RGB or
// RGBA, 8 or 16 bits, contiguous, Deflate with the horizontal predictor;
// alpha labelled as what its bytes are: associated (premultiplied, as PIC
// renders keep it) unless --unpremult made it straight. The pixel aspect
// ratio travels as the ratio of YResolution to XResolution, the comment as
// ImageDescription.
#include <tiffio.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/formats/image_output.h"
#include "engine/formats/tiff_format.h"
#include "engine/support/system_error_text.h"

namespace {

thread_local char lastTiffError[256] = "";

void OnTiffError(const char*, const char* format, va_list arguments)
{
    std::vsnprintf(lastTiffError, sizeof lastTiffError, format, arguments);
}

void OnTiffWarning(const char*, const char*, va_list) {}

} // namespace

void QuietLibtiff()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(OnTiffError);
        TIFFSetWarningHandler(OnTiffWarning);
    });
    lastTiffError[0] = '\0';
}

std::string TiffError(const char* what)
{
    return std::string(what) + (lastTiffError[0] ? std::string(" (") + lastTiffError + ")" : "");
}

namespace {

// libtiff's mode for a file it only reads (O_RDONLY, 0 on every system).
constexpr int kReadOnlyMode = 0;

// libtiff's file operations over a FILE* from ImageOutput. libtiff does not
// check every seek it makes (nor what the size it asks comes to), so the
// first failure is kept here, with the system's error, and fails the file.
struct TiffOutputFile {
    FILE* file = nullptr;
    int failure = 0;

    bool Failed(bool failed)
    {
        if (failed && failure == 0)
            failure = errno != 0 ? errno : EIO;
        return failed;
    }
};

tmsize_t ReadProc(thandle_t, void*, tmsize_t)
{
    return -1; // the file is opened "w": libtiff reads nothing back
}

tmsize_t WriteProc(thandle_t handle, void* bytes, tmsize_t count)
{
    auto* output = static_cast<TiffOutputFile*>(handle);
    const size_t written = std::fwrite(bytes, 1, size_t(count), output->file);
    output->Failed(written != size_t(count));
    return tmsize_t(written);
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence)
{
    auto* output = static_cast<TiffOutputFile*>(handle);
    if (output->Failed(fseeko(output->file, off_t(offset), whence) != 0))
        return toff_t(-1);
    return toff_t(ftello(output->file));
}

int CloseProc(thandle_t)
{
    return 0; // ImageOutput closes the file
}

toff_t SizeProc(thandle_t handle)
{
    auto* output = static_cast<TiffOutputFile*>(handle);
    const off_t here = ftello(output->file);
    const bool moved = fseeko(output->file, 0, SEEK_END) == 0;
    const off_t end = ftello(output->file);
    output->Failed(!moved || fseeko(output->file, here, SEEK_SET) != 0);
    return toff_t(end);
}

int MapProc(thandle_t, void**, toff_t*)
{
    return 0;
}

void UnmapProc(thandle_t, void*, toff_t) {}

class TiffSink : public RowSink {
public:
    TiffSink(const std::string& name, const WriteSettings& settings)
        : path(name), sixteen(settings.depth != SampleDepth::Eight),
          straightAlpha(settings.straightAlpha)
    {
    }
    ~TiffSink() override { Close(); }

    bool Start(const ImageHeader& header, std::string& error) override
    {
        QuietLibtiff();
        FILE* file = output.Open(path, error);
        if (file == nullptr)
            return false;
        handle.file = file;
        tiff = TIFFClientOpen(path.c_str(), "w", &handle, ReadProc, WriteProc, SeekProc, CloseProc,
                              SizeProc, MapProc, UnmapProc);
        if (tiff == nullptr)
            return Fail("cannot start the TIFF file", error);
        channels = header.hasAlpha ? 4 : 3;
        width = header.width;
        sixteenBit = header.sixteenBit;
        errno = 0;
        if (!SetFields(header))
            return Fail("cannot set the TIFF's tags", error);
        row.resize(size_t(width) * channels * (sixteen ? 2 : 1));
        return true;
    }

    bool Row(const uint16_t* pixel, std::string& error) override
    {
        uint8_t* out = row.data();
        for (uint32_t x = 0; x < width; ++x, pixel += 4) {
            for (int c = 0; c < channels; ++c) {
                if (sixteen) {
                    const uint16_t wide = Sample16(pixel[c], sixteenBit);
                    std::memcpy(out, &wide, 2);
                    out += 2;
                } else {
                    *out++ = Sample8(pixel[c], sixteenBit);
                }
            }
        }
        errno = 0;
        if (TIFFWriteScanline(tiff, row.data(), next++, 0) < 0 || handle.failure != 0)
            return Fail("TIFF write failed", error);
        return true;
    }

    bool Finish(std::string& error) override
    {
        finished = true;
        errno = 0;
        const bool flushed = !failed && TIFFFlush(tiff) == 1 && handle.failure == 0;
        if (!flushed && !failed)
            Fail("TIFF write failed", error);
        Close();
        return output.Close(flushed, error);
    }

private:
    // TIFFCleanup flushes a file open for writing, and after a failed call
    // (an allocation that failed inside TIFFWriteScanline) that flush reads
    // state libtiff never made: a file that failed, or was never finished,
    // is closed as one that was only read. Its bytes go nowhere anyway.
    void Close()
    {
        if (tiff == nullptr)
            return;
        if (failed || !finished)
            TIFFSetMode(tiff, kReadOnlyMode);
        TIFFCleanup(tiff);
        tiff = nullptr;
    }

    // Every tag, each call's result checked: a tag libtiff failed to keep
    // (out of memory) would leave a file that says something else.
    bool SetFields(const ImageHeader& header)
    {
        const uint16_t extra[1] = {straightAlpha ? uint16_t(EXTRASAMPLE_UNASSALPHA)
                                                 : uint16_t(EXTRASAMPLE_ASSOCALPHA)};
        bool set = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, header.width) == 1 &&
                   TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, header.height) == 1 &&
                   TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(channels)) == 1 &&
                   TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(sixteen ? 16 : 8)) == 1 &&
                   TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) == 1 &&
                   TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) == 1 &&
                   TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
                   TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) == 1 &&
                   TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) == 1 &&
                   TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1;
        if (set && header.hasAlpha)
            set = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra) == 1 &&
                  ExtraSampleKept(extra[0]);
        if (set && header.haveComment && !header.comment.empty())
            set = TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, header.comment.c_str()) == 1 &&
                  DescriptionKept(header.comment);
        if (set && AspectToWrite(header)) {
            uint32_t across = 1, down = 1;
            DensityFromAspect(header.aspect, 0x7FFFFFFF, across, down);
            set = TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE) == 1 &&
                  TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(across)) == 1 &&
                  TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(down)) == 1;
        }
        return set && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0)) == 1;
    }

    // libtiff copies array and text tags without saying when the copy's
    // allocation failed (the tag is then left out, and the call answers 1):
    // what it kept is read back.
    bool ExtraSampleKept(uint16_t expected)
    {
        uint16_t count = 0;
        const uint16_t* kept = nullptr;
        return TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &kept) == 1 && count == 1 &&
               kept != nullptr && kept[0] == expected;
    }

    bool DescriptionKept(const std::string& expected)
    {
        const char* kept = nullptr;
        return TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &kept) == 1 && kept != nullptr &&
               expected == kept;
    }

    bool Fail(const char* what, std::string& error)
    {
        failed = true;
        error = handle.failure != 0 ? SystemErrorText(handle.failure)
                : errno != 0        ? SystemErrorText(errno)
                                    : TiffError(what);
        return false;
    }

    std::string path;
    bool sixteen;
    bool sixteenBit = false;
    bool straightAlpha;
    ImageOutput output;
    TiffOutputFile handle;
    bool finished = false;
    TIFF* tiff = nullptr;
    int channels = 3;
    uint32_t width = 0;
    uint32_t next = 0;
    std::vector<uint8_t> row;
    bool failed = false;
};

// Classic TIFF (42) and BigTIFF (43), in either byte order.
bool SniffTiff(const uint8_t* head, size_t count)
{
    if (count < 4)
        return false;
    const bool little = head[0] == 'I' && head[1] == 'I' && head[3] == 0;
    const bool big = head[0] == 'M' && head[1] == 'M' && head[2] == 0;
    const uint8_t version = little ? head[2] : head[3];
    return (little || big) && (version == 42 || version == 43);
}

std::unique_ptr<RowSink> NewTiffWriter(const std::string& path, const WriteSettings& settings)
{
    return std::make_unique<TiffSink>(path, settings);
}

} // namespace

extern const ImageFormat kTiffFormat = {
    "TIFF",
    "tif tiff",
    SniffTiff,
    NewTiffReader,
    NewTiffWriter,
    true,
    true,
    true,
    false,
    false,
    false,
    "grey, RGB, palette, with or without alpha; 1 to 32-bit integer,\n"
    "           signed or not, 16 to 64-bit float; contiguous or planar;\n"
    "           strips or tiles; BigTIFF; CMYK, YCbCr, JPEG, L*a*b*, ... as\n"
    "           libtiff makes them RGBA; resolution, ImageDescription",
    "RGB or RGBA (associated alpha; straight after --unpremult), 8 or\n"
    "           16 bits (--depth), Deflate; resolution, ImageDescription",
};

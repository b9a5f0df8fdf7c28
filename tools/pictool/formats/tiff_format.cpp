// TIFF files through libtiff. Read: grey, grey + alpha, RGB and RGBA, 8 and
// 16-bit unsigned and 32-bit float samples, contiguous or planar, in strips
// or tiles, with any compression libtiff decodes (none, LZW, Deflate,
// PackBits, ...). Written: RGB or RGBA, 8 or 16 bits, contiguous, Deflate
// with the horizontal predictor. The pixel aspect ratio travels as the
// ratio of YResolution to XResolution, the comment as ImageDescription.
#include <tiffio.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "tools/pictool/formats/image_format.h"
#include "tools/pictool/formats/image_input.h"
#include "tools/pictool/formats/image_output.h"
#include "tools/pictool/support/system_error_text.h"

namespace {

// libtiff reports through process-wide handlers; each thread keeps the last
// error of its own reads and writes.
thread_local char lastTiffError[256] = "";

void OnTiffError(const char*, const char* format, va_list arguments)
{
    std::vsnprintf(lastTiffError, sizeof lastTiffError, format, arguments);
}

void OnTiffWarning(const char*, const char*, va_list) {}

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

class TiffSource : public RowSource {
public:
    TiffSource(ImageInput& from, uint64_t limit) : input(from), maxPixels(limit) {}
    ~TiffSource() override
    {
        if (tiff != nullptr)
            TIFFClose(tiff);
    }

    bool Start(ImageHeader& header, std::string& error) override
    {
        QuietLibtiff();
        if (input.Path() == "-") {
            error = "TIFF is read from named files only";
            return false;
        }
        // "m": read, not map. A mapped file that another program cuts
        // short while we read it kills the process (SIGBUS); a read fails.
        tiff = TIFFOpen(input.Path().c_str(), "rm");
        if (tiff == nullptr) {
            error = TiffError("TIFF data is corrupt or cut short");
            return false;
        }
        uint32_t across = 0, down = 0;
        uint16_t photometric = PHOTOMETRIC_RGB, format = SAMPLEFORMAT_UINT;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &across);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &down);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
        if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
            photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        if (!CheckImageSize(across, down, maxPixels, error))
            return false;
        const bool grey = photometric == PHOTOMETRIC_MINISBLACK;
        colours = grey ? 1 : 3;
        if ((!grey && photometric != PHOTOMETRIC_RGB) || samples < colours || samples > 8) {
            error = "TIFF with photometric " + std::to_string(photometric) + " and " +
                    std::to_string(samples) +
                    " samples is not read (grey or RGB, with or without alpha)";
            return false;
        }
        const bool known = (format == SAMPLEFORMAT_UINT && (bits == 8 || bits == 16)) ||
                           (format == SAMPLEFORMAT_IEEEFP && bits == 32);
        if (!known) {
            error = "TIFF with " + std::to_string(bits) + "-bit " +
                    (format == SAMPLEFORMAT_IEEEFP ? "float" : "integer") +
                    " samples is not read (8 or 16-bit integer, 32-bit float)";
            return false;
        }
        floats = format == SAMPLEFORMAT_IEEEFP;
        sampleBytes = bits / 8;
        width = across;
        height = down;
        header.width = width;
        header.height = height;
        header.hasAlpha = samples > colours; // the first extra sample
        ReadMetadata(header);
        return PlanBands(error);
    }

    bool Row(uint16_t* pixel, std::string& error) override
    {
        const uint8_t* row = nullptr;
        if (scanlines) {
            if (TIFFReadScanline(tiff, band.data(), next, 0) < 0) {
                error = TiffError("TIFF data is corrupt or cut short");
                return false;
            }
            row = band.data();
        } else {
            if (next >= bandStart + bandRows && !FillBand(next, error))
                return false;
            row = band.data() + size_t(next - bandStart) * RowBytes();
        }
        ++next;
        const bool alpha = samples > colours;
        for (uint32_t x = 0; x < width; ++x, pixel += 4) {
            const uint8_t* sample = row + size_t(x) * samples * sampleBytes;
            pixel[0] = uint16_t(Sample(sample, 0) << 8);
            pixel[1] = colours == 1 ? pixel[0] : uint16_t(Sample(sample, 1) << 8);
            pixel[2] = colours == 1 ? pixel[0] : uint16_t(Sample(sample, 2) << 8);
            pixel[3] = alpha ? uint16_t(Sample(sample, colours) << 8) : kOpaqueAlpha;
        }
        return true;
    }

private:
    size_t RowBytes() const { return size_t(width) * samples * sampleBytes; }

    uint8_t Sample(const uint8_t* pixel, int index) const
    {
        const uint8_t* at = pixel + size_t(index) * sampleBytes;
        if (sampleBytes == 1)
            return at[0];
        if (sampleBytes == 2) {
            uint16_t value;
            std::memcpy(&value, at, 2); // libtiff gives samples in the machine's order
            return ScaleTo8(value, 65535);
        }
        float value;
        std::memcpy(&value, at, 4);
        return FloatTo8(value);
    }

    void ReadMetadata(ImageHeader& header)
    {
        const char* description = nullptr;
        if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description) && description != nullptr) {
            header.haveComment = true;
            header.comment = description;
        }
        float across = 0.0f, down = 0.0f;
        if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &across) &&
            TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &down))
            header.haveAspect = AspectFromDensity(across, down, header.aspect);
    }

    // Contiguous strips are read a scanline at a time; planar strips and
    // tiles a band of rows at a time (one strip's or one row of tiles').
    bool PlanBands(std::string& error)
    {
        if (!TIFFIsTiled(tiff) && planar == PLANARCONFIG_CONTIG) {
            scanlines = true;
            band.resize(size_t(TIFFScanlineSize64(tiff)) > RowBytes()
                            ? size_t(TIFFScanlineSize64(tiff))
                            : RowBytes());
            return true;
        }
        uint32_t rows = 0;
        uint64_t pieceBytes = 0;
        if (TIFFIsTiled(tiff)) {
            TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
            TIFFGetField(tiff, TIFFTAG_TILELENGTH, &rows);
            pieceBytes = uint64_t(TIFFTileSize64(tiff));
        } else {
            TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
            pieceBytes = uint64_t(TIFFStripSize64(tiff));
        }
        if (rows == 0 || (TIFFIsTiled(tiff) && tileWidth == 0) || pieceBytes == 0) {
            error = "TIFF layout not understood (no rows per strip or tile)";
            return false;
        }
        bandHeight = rows < height ? rows : height;
        // A band holds at most the image; a piece at most what the file can hold.
        if (pieceBytes > uint64_t(kMaxImagePixels) * 32 ||
            (input.Size() != 0 && pieceBytes / 1032 > input.Size())) {
            error = "TIFF strips or tiles larger than the file can hold";
            return false;
        }
        band.resize(RowBytes() * bandHeight);
        piece.resize(size_t(pieceBytes));
        return true;
    }

    // Rows from `first` on, up to the band's height, into `band` as
    // contiguous samples.
    bool FillBand(uint32_t first, std::string& error)
    {
        bandStart = first;
        bandRows = height - first < bandHeight ? height - first : bandHeight;
        const uint32_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
        const uint32_t pieceSamples = planes == 1 ? samples : 1;
        const uint32_t pieceWidth = TIFFIsTiled(tiff) ? tileWidth : width;
        for (uint32_t x0 = 0; x0 < width; x0 += pieceWidth) {
            for (uint32_t plane = 0; plane < planes; ++plane) {
                const tmsize_t got =
                    TIFFIsTiled(tiff)
                        ? TIFFReadTile(tiff, piece.data(), x0, first, 0, uint16_t(plane))
                        : TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, first, uint16_t(plane)),
                                               piece.data(), tmsize_t(piece.size()));
                if (got < 0) {
                    error = TiffError("TIFF data is corrupt or cut short");
                    return false;
                }
                const uint32_t columns = width - x0 < pieceWidth ? width - x0 : pieceWidth;
                const size_t pieceRowBytes = size_t(pieceWidth) * pieceSamples * sampleBytes;
                for (uint32_t r = 0; r < bandRows; ++r) {
                    // A strip cut short gives fewer bytes: its missing rows stay as they were.
                    if (uint64_t(r + 1) * pieceRowBytes > uint64_t(got))
                        break;
                    const uint8_t* from = piece.data() + r * pieceRowBytes;
                    uint8_t* to = band.data() + r * RowBytes() +
                                  size_t(x0) * samples * sampleBytes + plane * sampleBytes;
                    if (planes == 1) {
                        std::memcpy(to, from, size_t(columns) * samples * sampleBytes);
                        continue;
                    }
                    for (uint32_t x = 0; x < columns; ++x)
                        std::memcpy(to + size_t(x) * samples * sampleBytes,
                                    from + size_t(x) * sampleBytes, sampleBytes);
                }
            }
        }
        return true;
    }

    ImageInput& input;
    uint64_t maxPixels;
    TIFF* tiff = nullptr;
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 8, planar = PLANARCONFIG_CONTIG;
    int colours = 3;
    bool floats = false;
    size_t sampleBytes = 1;
    bool scanlines = false;
    uint32_t tileWidth = 0;
    uint32_t bandHeight = 0, bandStart = 0, bandRows = 0;
    uint32_t next = 0;
    std::vector<uint8_t> band, piece;
};

// libtiff's file operations over a FILE* from ImageOutput.
tmsize_t ReadProc(thandle_t handle, void* bytes, tmsize_t count)
{
    return tmsize_t(std::fread(bytes, 1, size_t(count), static_cast<FILE*>(handle)));
}

tmsize_t WriteProc(thandle_t handle, void* bytes, tmsize_t count)
{
    return tmsize_t(std::fwrite(bytes, 1, size_t(count), static_cast<FILE*>(handle)));
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence)
{
    FILE* file = static_cast<FILE*>(handle);
    if (fseeko(file, off_t(offset), whence) != 0)
        return toff_t(-1);
    return toff_t(ftello(file));
}

int CloseProc(thandle_t)
{
    return 0; // ImageOutput closes the file
}

toff_t SizeProc(thandle_t handle)
{
    FILE* file = static_cast<FILE*>(handle);
    const off_t here = ftello(file);
    fseeko(file, 0, SEEK_END);
    const off_t end = ftello(file);
    fseeko(file, here, SEEK_SET);
    return toff_t(end);
}

int MapProc(thandle_t, void**, toff_t*)
{
    return 0;
}

void UnmapProc(thandle_t, void*, toff_t) {}

class TiffSink : public RowSink {
public:
    TiffSink(const std::string& name, SampleDepth depth)
        : path(name), sixteen(depth != SampleDepth::Eight)
    {
    }
    ~TiffSink() override
    {
        if (tiff != nullptr)
            TIFFCleanup(tiff);
    }

    bool Start(const ImageHeader& header, std::string& error) override
    {
        QuietLibtiff();
        FILE* file = output.Open(path, error);
        if (file == nullptr)
            return false;
        tiff = TIFFClientOpen(path.c_str(), "w", file, ReadProc, WriteProc, SeekProc, CloseProc,
                              SizeProc, MapProc, UnmapProc);
        if (tiff == nullptr)
            return Fail("cannot start the TIFF file", error);
        channels = header.hasAlpha ? 4 : 3;
        width = header.width;
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, header.width);
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, header.height);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(channels));
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(sixteen ? 16 : 8));
        TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        if (header.hasAlpha) {
            const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        if (header.haveComment && !header.comment.empty())
            TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, header.comment.c_str());
        if (header.haveAspect && header.aspect != 1.0f) {
            uint32_t across = 1, down = 1;
            DensityFromAspect(header.aspect, 0x7FFFFFFF, across, down);
            TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE);
            TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(across));
            TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(down));
        }
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
        row.resize(size_t(width) * channels * (sixteen ? 2 : 1));
        return true;
    }

    bool Row(const uint16_t* pixel, std::string& error) override
    {
        uint8_t* out = row.data();
        for (uint32_t x = 0; x < width; ++x, pixel += 4) {
            for (int c = 0; c < channels; ++c) {
                const uint8_t value = uint8_t(pixel[c] >> 8);
                if (sixteen) {
                    const uint16_t wide = uint16_t(value * 257);
                    std::memcpy(out, &wide, 2);
                    out += 2;
                } else {
                    *out++ = value;
                }
            }
        }
        errno = 0;
        if (TIFFWriteScanline(tiff, row.data(), next++, 0) < 0)
            return Fail("TIFF write failed", error);
        return true;
    }

    bool Finish(std::string& error) override
    {
        errno = 0;
        const bool flushed = !failed && TIFFFlush(tiff) == 1;
        TIFFCleanup(tiff);
        tiff = nullptr;
        if (!flushed && !failed)
            Fail("TIFF write failed", error);
        return output.Close(flushed, error);
    }

private:
    bool Fail(const char* what, std::string& error)
    {
        failed = true;
        error = errno != 0 ? SystemErrorText(errno) : TiffError(what);
        return false;
    }

    std::string path;
    bool sixteen;
    ImageOutput output;
    TIFF* tiff = nullptr;
    int channels = 3;
    uint32_t width = 0;
    uint32_t next = 0;
    std::vector<uint8_t> row;
    bool failed = false;
};

bool SniffTiff(const uint8_t* head, size_t count)
{
    return count >= 4 && ((head[0] == 'I' && head[1] == 'I' && head[2] == 42 && head[3] == 0) ||
                          (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && head[3] == 42));
}

std::unique_ptr<RowSource> NewTiffReader(ImageInput& input, uint64_t maxPixels)
{
    return std::make_unique<TiffSource>(input, maxPixels);
}

std::unique_ptr<RowSink> NewTiffWriter(const std::string& path, const WriteSettings& settings)
{
    return std::make_unique<TiffSink>(path, settings.depth);
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
    "grey or RGB, with or without alpha; 8, 16-bit, 32-bit float;\n"
    "           contiguous or planar; strips or tiles; none, LZW, Deflate, ...;\n"
    "           resolution, ImageDescription",
    "RGB or RGBA, 8 or 16 bits (--depth 16), Deflate; resolution,\n"
    "           ImageDescription",
};

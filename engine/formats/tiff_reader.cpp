// Reads TIFF files through libtiff, over the ImageInput (classic TIFF and
// BigTIFF). Grey (min-is-black or min-is-white), RGB and palette images are
// read sample by sample: 1, 2, 4, 8, 16 or 32-bit unsigned, 8, 16 or 32-bit
// signed and 16, 32 or 64-bit float samples, contiguous or planar, strips
// or tiles, the first extra sample as alpha. Unsigned samples are scaled to
// 8 bits and rounded, signed ones likewise from 0 to the type's largest
// (negatives are 0), floats clamped to [0, 1], palette entries rounded from
// 16 bits. Alpha is carried as stored, associated or not. Every other layout
// libtiff turns into RGBA (CMYK, YCbCr, JPEG-in-TIFF, CIE L*a*b*, LogLuv,
// ...) is read through its RGBA interface, 8 bits a sample.
#include <tiffio.h>

#include <cstring>
#include <vector>

#include "engine/formats/image_input.h"
#include "engine/formats/tiff_format.h"

namespace {

// libtiff's reads over an ImageInput.
tmsize_t ReadInput(thandle_t handle, void* bytes, tmsize_t count)
{
    return tmsize_t(static_cast<ImageInput*>(handle)->Read(bytes, size_t(count)));
}

tmsize_t NoWrite(thandle_t, void*, tmsize_t)
{
    return -1;
}

toff_t SeekInput(thandle_t handle, toff_t offset, int whence)
{
    auto* input = static_cast<ImageInput*>(handle);
    const uint64_t base = whence == SEEK_CUR   ? input->Tell()
                          : whence == SEEK_END ? input->Size()
                                               : 0;
    return input->Seek(base + offset) ? input->Tell() : toff_t(-1);
}

int NoClose(thandle_t)
{
    return 0; // the ImageInput closes its file
}

toff_t InputSize(thandle_t handle)
{
    return static_cast<ImageInput*>(handle)->Size();
}

int NoMap(thandle_t, void**, toff_t*)
{
    return 0;
}

void NoUnmap(thandle_t, void*, toff_t) {}

const char* PhotometricName(uint16_t photometric)
{
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
        return "min-is-white grey";
    case PHOTOMETRIC_MINISBLACK:
        return "grey";
    case PHOTOMETRIC_RGB:
        return "RGB";
    case PHOTOMETRIC_PALETTE:
        return "palette";
    case PHOTOMETRIC_MASK:
        return "transparency mask";
    case PHOTOMETRIC_SEPARATED:
        return "CMYK";
    case PHOTOMETRIC_YCBCR:
        return "YCbCr";
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
        return "L*a*b*";
    case PHOTOMETRIC_LOGL:
        return "LogL";
    case PHOTOMETRIC_LOGLUV:
        return "LogLuv";
    case PHOTOMETRIC_CFA:
        return "colour filter array";
    default:
        return nullptr;
    }
}

// "16-bit float", "8-bit signed integer"
std::string SampleWords(uint16_t bits, uint16_t format)
{
    const char* kind = format == SAMPLEFORMAT_IEEEFP ? "float"
                       : format == SAMPLEFORMAT_INT  ? "signed integer"
                                                     : "integer";
    return std::to_string(bits) + "-bit " + kind;
}

// The sample layouts read sample by sample.
bool DirectSamples(uint16_t bits, uint16_t format)
{
    switch (format) {
    case SAMPLEFORMAT_UINT:
        return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 32;
    case SAMPLEFORMAT_INT:
        return bits == 8 || bits == 16 || bits == 32;
    case SAMPLEFORMAT_IEEEFP:
        return bits == 16 || bits == 32 || bits == 64;
    default:
        return false;
    }
}

// IEEE half to float, subnormals, infinities and NaN included.
float HalfToFloat(uint16_t half)
{
    const uint32_t sign = uint32_t(half & 0x8000) << 16;
    const uint32_t exponent = (half >> 10) & 0x1F;
    uint32_t mantissa = half & 0x3FF;
    uint32_t bits = sign;
    if (exponent == 0x1F) {
        bits |= 0x7F800000 | (mantissa << 13);
    } else if (exponent != 0) {
        bits |= ((exponent + 112) << 23) | (mantissa << 13);
    } else if (mantissa != 0) {
        int shift = 0;
        while ((mantissa & 0x400) == 0) {
            mantissa <<= 1;
            ++shift;
        }
        bits |= (uint32_t(113 - shift) << 23) | ((mantissa & 0x3FF) << 13);
    }
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

class TiffSource : public RowSource {
public:
    TiffSource(ImageInput& from, const ReadSettings& asked) : input(from), settings(asked) {}
    ~TiffSource() override
    {
        if (rgbaStarted)
            TIFFRGBAImageEnd(&rgba);
        if (tiff != nullptr)
            TIFFClose(tiff);
    }

    bool Start(ImageHeader& header, std::string& error) override
    {
        QuietLibtiff();
        if (input.Size() == 0) {
            error = "TIFF is read from named files only";
            return false;
        }
        // "m": read, not map.
        tiff = TIFFClientOpen(input.Path().c_str(), "rm", &input, ReadInput, NoWrite, SeekInput,
                              NoClose, InputSize, NoMap, NoUnmap);
        if (tiff == nullptr) {
            error = TiffError("TIFF data is corrupt or cut short");
            return false;
        }
        uint16_t format = SAMPLEFORMAT_UINT;
        if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
            !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height)) {
            error = "TIFF has no image size";
            return false;
        }
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
        if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
            photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        if (!CheckImageSize(width, height, settings.maxPixels, error))
            return false;
        header.width = width;
        header.height = height;
        ReadMetadata(header);
        const bool grey =
            photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
        colours = photometric == PHOTOMETRIC_RGB ? 3 : 1;
        sampleFormat = format;
        if ((grey || photometric == PHOTOMETRIC_RGB ||
             (photometric == PHOTOMETRIC_PALETTE && format == SAMPLEFORMAT_UINT && bits <= 16)) &&
            DirectSamples(bits, format) && samples >= colours && samples <= 8)
            return StartDirect(header, error);
        return StartRgba(header, error);
    }

    bool Row(uint16_t* pixel, std::string& error) override
    {
        return rgbaStarted ? RgbaRow(pixel, error) : DirectRow(pixel, error);
    }

private:
    void ReadMetadata(ImageHeader& header)
    {
        const char* description = nullptr;
        if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &description) && description != nullptr &&
            description[0] != '\0') {
            header.haveComment = true;
            header.comment = description;
        }
        float across = 0.0f, down = 0.0f;
        if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &across) &&
            TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &down))
            header.haveAspect = AspectFromDensity(across, down, header.aspect);
    }

    std::string Refusal() const
    {
        const char* name = PhotometricName(photometric);
        return std::string(name ? name : "photometric " + std::to_string(photometric)) +
               " TIFF with " + SampleWords(bits, sampleFormat) + " samples (" +
               std::to_string(samples) + " a pixel) is not read";
    }

    // --- sample by sample ---------------------------------------------------

    bool StartDirect(ImageHeader& header, std::string& error)
    {
        header.hasAlpha = samples > colours; // the first extra sample
        if (photometric == PHOTOMETRIC_PALETTE && !ReadPalette(error))
            return false;
        unpackedBytes = bits < 8 ? 1 : bits / 8;
        return PlanBands(error);
    }

    // Entries are 16-bit; old writers put 8-bit values there, which is
    // told, as libtiff tells it, by no entry passing 255.
    bool ReadPalette(std::string& error)
    {
        uint16_t* red = nullptr;
        uint16_t* green = nullptr;
        uint16_t* blue = nullptr;
        if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue)) {
            error = "palette TIFF has no colour map";
            return false;
        }
        const size_t entries = size_t(1) << bits;
        bool eightBit = true;
        for (size_t index = 0; index < entries; ++index)
            eightBit = eightBit && red[index] < 256 && green[index] < 256 && blue[index] < 256;
        palette.resize(entries * 3);
        for (size_t index = 0; index < entries; ++index) {
            const uint16_t entry[3] = {red[index], green[index], blue[index]};
            for (int c = 0; c < 3; ++c)
                palette[index * 3 + size_t(c)] =
                    eightBit ? uint8_t(entry[c]) : ScaleTo8(entry[c], 65535);
        }
        return true;
    }

    // Contiguous strips are read a scanline at a time, which libtiff
    // decodes as it goes; planar strips and tiles a band of rows at a time
    // (one strip's or one row of tiles'), each piece whole and bounded.
    bool PlanBands(std::string& error)
    {
        const bool tiled = TIFFIsTiled(tiff) != 0;
        if (!tiled && planar == PLANARCONFIG_CONTIG) {
            scanlines = true;
            piece.resize(size_t(TIFFScanlineSize64(tiff)));
            band.resize(BandRowBytes());
            bandRows = bandHeight = 1;
            return !piece.empty() || Fail("TIFF layout not understood (empty scanlines)", error);
        }
        uint32_t rows = 0;
        uint64_t pieceBytes = 0;
        if (tiled) {
            TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
            TIFFGetField(tiff, TIFFTAG_TILELENGTH, &rows);
            pieceBytes = uint64_t(TIFFTileSize64(tiff));
        } else {
            TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
            pieceBytes = uint64_t(TIFFStripSize64(tiff));
        }
        if (rows == 0 || (tiled && tileWidth == 0) || pieceBytes == 0)
            return Fail("TIFF layout not understood (no rows per strip or tile)", error);
        bandHeight = rows < height ? rows : height;
        const std::string shape = std::string(tiled ? "tiles of " : "strips of ") +
                                  std::to_string(tiled ? tileWidth : width) + " x " +
                                  std::to_string(rows);
        if (!CheckBlockBytes(pieceBytes, shape, settings, error) ||
            !CheckBlockBytes(uint64_t(BandRowBytes()) * bandHeight, shape, settings, error))
            return false;
        band.resize(BandRowBytes() * bandHeight);
        piece.resize(size_t(pieceBytes));
        unpacked.resize(size_t(tiled ? tileWidth : width) * samples * unpackedBytes);
        return true;
    }

    bool Fail(const char* what, std::string& error)
    {
        error = what;
        return false;
    }

    size_t BandRowBytes() const { return size_t(width) * samples * unpackedBytes; }

    // `count` samples from packed `from` to `to`, sub-byte samples one byte each.
    void Unpack(const uint8_t* from, size_t count, uint8_t* to) const
    {
        if (bits >= 8) {
            std::memcpy(to, from, count * unpackedBytes);
            return;
        }
        const unsigned mask = (1u << bits) - 1;
        for (size_t index = 0; index < count; ++index) {
            const size_t bit = index * bits;
            to[index] = uint8_t((from[bit / 8] >> (8 - bits - bit % 8)) & mask);
        }
    }

    bool DirectRow(uint16_t* pixel, std::string& error)
    {
        const uint8_t* row = nullptr;
        if (scanlines) {
            if (TIFFReadScanline(tiff, piece.data(), next, 0) < 0) {
                error = TiffError("TIFF data is corrupt or cut short");
                return false;
            }
            Unpack(piece.data(), size_t(width) * samples, band.data());
            row = band.data();
        } else {
            if (next >= bandStart + bandRows && !FillBand(next, error))
                return false;
            row = band.data() + size_t(next - bandStart) * BandRowBytes();
        }
        ++next;
        const bool alpha = samples > colours;
        for (uint32_t x = 0; x < width; ++x, pixel += 4) {
            const uint8_t* sample = row + size_t(x) * samples * unpackedBytes;
            if (photometric == PHOTOMETRIC_PALETTE) {
                const uint8_t* entry = &palette[size_t(Raw(sample, 0)) * 3];
                for (int c = 0; c < 3; ++c)
                    pixel[c] = uint16_t(entry[c] << 8);
            } else {
                pixel[0] = uint16_t(Sample(sample, 0) << 8);
                pixel[1] = colours == 1 ? pixel[0] : uint16_t(Sample(sample, 1) << 8);
                pixel[2] = colours == 1 ? pixel[0] : uint16_t(Sample(sample, 2) << 8);
                if (photometric == PHOTOMETRIC_MINISWHITE)
                    for (int c = 0; c < 3; ++c)
                        pixel[c] = uint16_t((255 - (pixel[c] >> 8)) << 8);
            }
            pixel[3] = alpha ? uint16_t(Sample(sample, colours) << 8) : kOpaqueAlpha;
        }
        return true;
    }

    // An unsigned sample as stored (palette indices).
    uint32_t Raw(const uint8_t* pixel, int index) const
    {
        const uint8_t* at = pixel + size_t(index) * unpackedBytes;
        if (unpackedBytes == 1)
            return at[0];
        uint16_t value;
        std::memcpy(&value, at, 2); // libtiff gives samples in the machine's order
        return value;
    }

    uint8_t Sample(const uint8_t* pixel, int index) const
    {
        const uint8_t* at = pixel + size_t(index) * unpackedBytes;
        if (sampleFormat == SAMPLEFORMAT_IEEEFP) {
            if (bits == 16) {
                uint16_t half;
                std::memcpy(&half, at, 2);
                return FloatTo8(HalfToFloat(half));
            }
            if (bits == 32) {
                float value;
                std::memcpy(&value, at, 4);
                return FloatTo8(value);
            }
            double value;
            std::memcpy(&value, at, 8);
            return FloatTo8(value != value ? 0.0f
                                           : float(value < 0.0   ? 0.0
                                                   : value > 1.0 ? 1.0
                                                                 : value));
        }
        const bool isSigned = sampleFormat == SAMPLEFORMAT_INT;
        switch (bits) {
        case 8:
            return isSigned ? SignedTo8(int8_t(at[0]), INT8_MAX) : at[0];
        case 16: {
            uint16_t value;
            std::memcpy(&value, at, 2);
            return isSigned ? SignedTo8(int16_t(value), INT16_MAX) : ScaleTo8(value, UINT16_MAX);
        }
        case 32: {
            uint32_t value;
            std::memcpy(&value, at, 4);
            return isSigned ? SignedTo8(int32_t(value), INT32_MAX) : ScaleTo8(value, UINT32_MAX);
        }
        default: // 1, 2 or 4 bits
            return ScaleTo8(at[0], (1u << bits) - 1);
        }
    }

    // Rows from `first` on, up to the band's height, into `band` as
    // contiguous unpacked samples.
    bool FillBand(uint32_t first, std::string& error)
    {
        bandStart = first;
        bandRows = height - first < bandHeight ? height - first : bandHeight;
        const bool tiled = TIFFIsTiled(tiff) != 0;
        const uint32_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
        const uint32_t pieceSamples = planes == 1 ? samples : 1;
        const uint32_t pieceWidth = tiled ? tileWidth : width;
        const size_t pieceRowBytes = (size_t(pieceWidth) * pieceSamples * bits + 7) / 8;
        for (uint32_t x0 = 0; x0 < width; x0 += pieceWidth) {
            for (uint32_t plane = 0; plane < planes; ++plane) {
                const tmsize_t got =
                    tiled
                        ? TIFFReadTile(tiff, piece.data(), x0, first, 0, uint16_t(plane))
                        : TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, first, uint16_t(plane)),
                                               piece.data(), tmsize_t(piece.size()));
                if (got < 0) {
                    error = TiffError("TIFF data is corrupt or cut short");
                    return false;
                }
                const uint32_t columns = width - x0 < pieceWidth ? width - x0 : pieceWidth;
                for (uint32_t r = 0; r < bandRows; ++r) {
                    // A strip cut short gives fewer bytes: its missing rows stay as they were.
                    if (uint64_t(r + 1) * pieceRowBytes > uint64_t(got))
                        break;
                    uint8_t* to = band.data() + r * BandRowBytes() +
                                  (size_t(x0) * samples + plane) * unpackedBytes;
                    Unpack(piece.data() + r * pieceRowBytes, size_t(columns) * pieceSamples,
                           unpacked.data());
                    if (planes == 1) {
                        std::memcpy(to, unpacked.data(), size_t(columns) * samples * unpackedBytes);
                        continue;
                    }
                    for (uint32_t x = 0; x < columns; ++x)
                        std::memcpy(to + size_t(x) * samples * unpackedBytes,
                                    unpacked.data() + size_t(x) * unpackedBytes, unpackedBytes);
                }
            }
        }
        return true;
    }

    // --- through libtiff's RGBA interface ---------------------------------

    bool StartRgba(ImageHeader& header, std::string& error)
    {
        char why[1024] = "";
        if (!TIFFRGBAImageOK(tiff, why) || !TIFFRGBAImageBegin(&rgba, tiff, 1, why)) {
            error = Refusal();
            return false;
        }
        rgbaStarted = true;
        rgba.req_orientation = ORIENTATION_TOPLEFT;
        header.hasAlpha = rgba.alpha != 0;
        uint32_t rows = 0;
        uint64_t pieceBytes = 0;
        if (TIFFIsTiled(tiff)) {
            TIFFGetField(tiff, TIFFTAG_TILELENGTH, &rows);
            pieceBytes = uint64_t(TIFFTileSize64(tiff));
        } else {
            TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
            pieceBytes = uint64_t(TIFFStripSize64(tiff));
        }
        bandHeight = rows == 0 || rows > height ? height : rows;
        const std::string shape = std::string(TIFFIsTiled(tiff) ? "tiles" : "strips") + " of " +
                                  std::to_string(bandHeight) + " rows";
        if (!CheckBlockBytes(pieceBytes, shape, settings, error) ||
            !CheckBlockBytes(uint64_t(width) * bandHeight * 4, shape, settings, error))
            return false;
        raster.resize(size_t(width) * bandHeight);
        return true;
    }

    bool RgbaRow(uint16_t* pixel, std::string& error)
    {
        if (next >= bandStart + bandRows) {
            bandStart = next;
            bandRows = height - next < bandHeight ? height - next : bandHeight;
            rgba.row_offset = int(next);
            rgba.col_offset = 0;
            if (!TIFFRGBAImageGet(&rgba, raster.data(), width, bandRows)) {
                error = TiffError("TIFF data is corrupt or cut short");
                return false;
            }
        }
        const uint32_t* from = raster.data() + size_t(next - bandStart) * width;
        ++next;
        for (uint32_t x = 0; x < width; ++x, pixel += 4) {
            pixel[0] = uint16_t(TIFFGetR(from[x]) << 8);
            pixel[1] = uint16_t(TIFFGetG(from[x]) << 8);
            pixel[2] = uint16_t(TIFFGetB(from[x]) << 8);
            pixel[3] = rgba.alpha != 0 ? uint16_t(TIFFGetA(from[x]) << 8) : kOpaqueAlpha;
        }
        return true;
    }

    ImageInput& input;
    ReadSettings settings;
    TIFF* tiff = nullptr;
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 8, planar = PLANARCONFIG_CONTIG;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK, sampleFormat = SAMPLEFORMAT_UINT;
    int colours = 3;
    size_t unpackedBytes = 1;
    bool scanlines = false;
    uint32_t tileWidth = 0;
    uint32_t bandHeight = 0, bandStart = 0, bandRows = 0;
    uint32_t next = 0;
    std::vector<uint8_t> band, piece, unpacked, palette;
    TIFFRGBAImage rgba{};
    bool rgbaStarted = false;
    std::vector<uint32_t> raster;
};

} // namespace

std::unique_ptr<RowSource> NewTiffReader(ImageInput& input, const ReadSettings& settings)
{
    return std::make_unique<TiffSource>(input, settings);
}

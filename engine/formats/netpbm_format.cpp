// Netpbm files, the uncompressed formats that need no library.
//
//   PAM:  P7\n WIDTH w\n HEIGHT h\n DEPTH d\n MAXVAL m\n TUPLTYPE t\n ENDHDR\n
//   PGM, PPM (binary): P5 or P6, then width, height and maxval as decimal
//         numbers between blanks and '#' comments, then one blank
//   then w * h tuples of d samples (PGM 1, PPM 3), 1 byte each when m < 256,
//   else 2 bytes big-endian, row after row.
//
// PAM tuple types read: GRAYSCALE, GRAYSCALE_ALPHA, RGB, RGB_ALPHA (or, with
// no TUPLTYPE line, DEPTH 1 to 4 in that order). Any MAXVAL from 1 to 65535
// is scaled to 8 bits with rounding. PAM is written RGB or RGB_ALPHA.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/formats/image_format.h"
#include "engine/formats/image_input.h"
#include "engine/formats/image_output.h"
#include "engine/support/system_error_text.h"

namespace {

// Bounds on the header: a line longer than this or a header with more lines
// is not a PAM file of any reasonable kind.
constexpr size_t kMaxHeaderLine = 256;
constexpr int kMaxHeaderLines = 64;

struct NetpbmHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 0;
    uint32_t maxValue = 0;
    std::string tupleType;
};

// One header line without its newline; false at the end of the input or for
// a line longer than kMaxHeaderLine.
bool ReadHeaderLine(ImageInput& input, std::string& line)
{
    line.clear();
    for (;;) {
        const int c = input.ReadByte();
        if (c < 0)
            return false;
        if (c == '\n')
            return true;
        if (line.size() == kMaxHeaderLine)
            return false;
        line.push_back(char(c));
    }
}

// A decimal number of at most 9 digits (so it cannot overflow) that is the
// whole of `text` but for surrounding blanks.
bool ParseHeaderNumber(const char* text, uint32_t& value)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    uint32_t number = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (++digits > 9)
            return false;
        number = number * 10 + uint32_t(*text - '0');
    }
    while (*text == ' ' || *text == '\t' || *text == '\r')
        ++text;
    if (digits == 0 || *text != '\0')
        return false;
    value = number;
    return true;
}

bool KeywordIs(const std::string& line, const char* keyword)
{
    const size_t length = std::strlen(keyword);
    return line.compare(0, length, keyword) == 0 &&
           (line.size() == length || line[length] == ' ' || line[length] == '\t');
}

// Applies one "KEYWORD value" line; unknown keywords are ignored.
bool ApplyHeaderLine(const std::string& line, NetpbmHeader& header, std::string& error)
{
    static const struct {
        const char* keyword;
        uint32_t NetpbmHeader::*field;
    } numbers[] = {{"WIDTH", &NetpbmHeader::width},
                   {"HEIGHT", &NetpbmHeader::height},
                   {"DEPTH", &NetpbmHeader::depth},
                   {"MAXVAL", &NetpbmHeader::maxValue}};
    for (const auto& entry : numbers) {
        if (!KeywordIs(line, entry.keyword))
            continue;
        if (!ParseHeaderNumber(line.c_str() + std::strlen(entry.keyword), header.*entry.field)) {
            error = std::string("bad ") + entry.keyword + " in PAM header";
            return false;
        }
        return true;
    }
    if (KeywordIs(line, "TUPLTYPE")) {
        const size_t start = line.find_first_not_of(" \t", 8);
        const size_t end = line.find_last_not_of(" \t\r");
        header.tupleType = start == std::string::npos ? "" : line.substr(start, end + 1 - start);
    }
    return true;
}

bool ReadPamHeader(ImageInput& input, NetpbmHeader& header, std::string& error)
{
    std::string line;
    if (!ReadHeaderLine(input, line) || line != "P7") {
        error = "not a PAM file (no P7 line)";
        return false;
    }
    for (int count = 0; count < kMaxHeaderLines; ++count) {
        if (!ReadHeaderLine(input, line)) {
            error = "PAM header cut short or malformed";
            return false;
        }
        if (line == "ENDHDR")
            return true;
        if (line.empty() || line[0] == '#')
            continue;
        if (!ApplyHeaderLine(line, header, error))
            return false;
    }
    error = "PAM header has no ENDHDR";
    return false;
}

// The tuple type's depth; 0 for a type pictool does not take.
uint32_t TupleTypeDepth(const std::string& type)
{
    static const char* const types[] = {"GRAYSCALE", "GRAYSCALE_ALPHA", "RGB", "RGB_ALPHA"};
    for (uint32_t index = 0; index < 4; ++index)
        if (type == types[index])
            return index + 1;
    return 0;
}

// One number of a PGM or PPM header: blanks and '#' comments before it, one
// blank after it (the last one ends the header).
bool ReadPnmNumber(ImageInput& input, uint32_t& value)
{
    int c = input.ReadByte();
    for (;;) {
        if (c == '#')
            while (c >= 0 && c != '\n' && c != '\r')
                c = input.ReadByte();
        else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')
            c = input.ReadByte();
        else
            break;
    }
    uint32_t number = 0;
    int digits = 0;
    for (; c >= '0' && c <= '9'; c = input.ReadByte()) {
        if (++digits > 9)
            return false;
        number = number * 10 + uint32_t(c - '0');
    }
    const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    value = number;
    return digits > 0 && blank;
}

bool ReadPnmHeader(ImageInput& input, NetpbmHeader& header, std::string& error)
{
    uint8_t magic[2] = {};
    input.Read(magic, 2);
    header.depth = magic[1] == '5' ? 1 : 3;
    if (!ReadPnmNumber(input, header.width) || !ReadPnmNumber(input, header.height) ||
        !ReadPnmNumber(input, header.maxValue)) {
        error = std::string(magic[1] == '5' ? "PGM" : "PPM") + " header cut short or malformed";
        return false;
    }
    return true;
}

bool CheckHeader(NetpbmHeader& header, bool pam, std::string& error)
{
    if (pam && !header.tupleType.empty()) {
        const uint32_t depth = TupleTypeDepth(header.tupleType);
        if (depth == 0) {
            error = "PAM TUPLTYPE " + header.tupleType +
                    " is not GRAYSCALE, GRAYSCALE_ALPHA, RGB or RGB_ALPHA";
            return false;
        }
        if (depth != header.depth) {
            error = "PAM TUPLTYPE " + header.tupleType + " needs DEPTH " + std::to_string(depth);
            return false;
        }
    }
    if (header.depth < 1 || header.depth > 4) {
        error = "PAM DEPTH must be 1 to 4";
        return false;
    }
    if (header.maxValue < 1 || header.maxValue > 65535) {
        error = "MAXVAL must be 1 to 65535";
        return false;
    }
    return true;
}

// One tuple of `depth` 8-bit samples as a host pixel.
void StoreTuple(const uint8_t* samples, uint32_t depth, uint16_t* pixel)
{
    const bool grey = depth <= 2;
    pixel[0] = uint16_t(samples[0] << 8);
    pixel[1] = uint16_t((grey ? samples[0] : samples[1]) << 8);
    pixel[2] = uint16_t((grey ? samples[0] : samples[2]) << 8);
    pixel[3] = depth == 2   ? uint16_t(samples[1] << 8)
               : depth == 4 ? uint16_t(samples[3] << 8)
                            : kOpaqueAlpha;
}

class NetpbmSource : public RowSource {
public:
    NetpbmSource(ImageInput& from, uint64_t limit, bool isPam)
        : input(from), maxPixels(limit), pam(isPam)
    {
    }

    bool Start(ImageHeader& image, std::string& error) override
    {
        if (!(pam ? ReadPamHeader(input, header, error) : ReadPnmHeader(input, header, error)) ||
            !CheckHeader(header, pam, error) ||
            !CheckImageSize(header.width, header.height, maxPixels, error))
            return false;
        image.width = header.width;
        image.height = header.height;
        image.hasAlpha = header.depth == 2 || header.depth == 4;
        sampleBytes = header.maxValue > 255 ? 2 : 1;
        row.resize(size_t(header.width) * header.depth * sampleBytes); // <= 32767 * 4 * 2
        // Every possible sample's 8-bit value, so rows cost a look-up per sample.
        scale.resize(size_t(header.maxValue) + 1);
        for (uint32_t value = 0; value <= header.maxValue; ++value)
            scale[value] = ScaleTo8(value, header.maxValue);
        return true;
    }

    bool Row(uint16_t* pixel, std::string& error) override
    {
        if (input.Read(row.data(), row.size()) != row.size()) {
            error = input.Failed() ? "cannot read (" + SystemErrorText(errno) + ")"
                                   : "pixel data cut short at row " + std::to_string(rowsRead);
            return false;
        }
        ++rowsRead;
        uint8_t tuple[4];
        const uint8_t* bytes = row.data();
        for (uint32_t x = 0; x < header.width; ++x, pixel += 4) {
            for (uint32_t s = 0; s < header.depth; ++s, bytes += sampleBytes) {
                const uint32_t value =
                    sampleBytes == 2 ? uint32_t(bytes[0] << 8 | bytes[1]) : bytes[0];
                tuple[s] = value > header.maxValue ? 255 : scale[value];
            }
            StoreTuple(tuple, header.depth, pixel);
        }
        return true;
    }

private:
    ImageInput& input;
    uint64_t maxPixels;
    bool pam;
    NetpbmHeader header;
    size_t sampleBytes = 1;
    std::vector<uint8_t> row;
    std::vector<uint8_t> scale;
    uint32_t rowsRead = 0;
};

// PAM with DEPTH 3 (RGB) or 4 (RGB_ALPHA) as the image has alpha: MAXVAL 255
// for SampleDepth::Eight, 65535 for Sixteen. HostPixels writes DEPTH 4,
// MAXVAL 65535, TUPLTYPE RGB_ALPHA, the host's channels exactly as stored.
class PamSink : public RowSink {
public:
    PamSink(const std::string& name, SampleDepth sampleDepth) : path(name), depth(sampleDepth) {}

    bool Start(const ImageHeader& image, std::string& error) override
    {
        host = depth == SampleDepth::HostPixels;
        wide = depth != SampleDepth::Eight;
        sixteenBit = image.sixteenBit;
        channels = host || image.hasAlpha ? 4 : 3;
        width = image.width;
        file = output.Open(path, error);
        if (file == nullptr)
            return false;
        std::fprintf(file, "P7\nWIDTH %u\nHEIGHT %u\nDEPTH %u\nMAXVAL %u\nTUPLTYPE %s\nENDHDR\n",
                     unsigned(image.width), unsigned(image.height), unsigned(channels),
                     wide ? 65535u : 255u, channels == 4 ? "RGB_ALPHA" : "RGB");
        row.resize(size_t(image.width) * channels * (wide ? 2 : 1));
        return true;
    }

    bool Row(const uint16_t* pixel, std::string& error) override
    {
        uint8_t* out = row.data();
        for (uint32_t x = 0; x < width; ++x, pixel += 4) {
            for (size_t c = 0; c < channels; ++c) {
                if (wide) {
                    const uint16_t value = host ? pixel[c] : Sample16(pixel[c], sixteenBit);
                    *out++ = uint8_t(value >> 8);
                    *out++ = uint8_t(value & 0xFF);
                } else {
                    *out++ = Sample8(pixel[c], sixteenBit);
                }
            }
        }
        if (std::fwrite(row.data(), 1, row.size(), file) == row.size())
            return true;
        error = SystemErrorText(errno);
        failed = true;
        return false;
    }

    bool Finish(std::string& error) override { return output.Close(!failed, error); }

private:
    std::string path;
    SampleDepth depth;
    bool host = false;
    bool wide = false;
    bool sixteenBit = false;
    size_t channels = 3;
    uint32_t width = 0;
    ImageOutput output;
    FILE* file = nullptr;
    std::vector<uint8_t> row;
    bool failed = false;
};

bool SniffPam(const uint8_t* head, size_t count)
{
    return count >= 3 && head[0] == 'P' && head[1] == '7' && head[2] == '\n';
}

bool SniffPnm(const uint8_t* head, size_t count)
{
    return count >= 3 && head[0] == 'P' && (head[1] == '5' || head[1] == '6') &&
           std::isspace(head[2]);
}

std::unique_ptr<RowSource> NewPamReader(ImageInput& input, const ReadSettings& settings)
{
    return std::make_unique<NetpbmSource>(input, settings.maxPixels, true);
}

std::unique_ptr<RowSource> NewPnmReader(ImageInput& input, const ReadSettings& settings)
{
    return std::make_unique<NetpbmSource>(input, settings.maxPixels, false);
}

std::unique_ptr<RowSink> NewPamWriter(const std::string& path, const WriteSettings& settings)
{
    return std::make_unique<PamSink>(path, settings.depth);
}

} // namespace

extern const ImageFormat kPamFormat = {
    "PAM",
    "pam",
    SniffPam,
    NewPamReader,
    NewPamWriter,
    true,
    false,
    false,
    false,
    false,
    true,
    "GRAYSCALE, GRAYSCALE_ALPHA, RGB, RGB_ALPHA; MAXVAL 1 to 65535",
    "RGB or RGB_ALPHA, MAXVAL 255 or 65535 (--depth); --host-pixels",
};

extern const ImageFormat kPnmFormat = {
    "PGM/PPM", "pgm ppm", SniffPnm, NewPnmReader, nullptr, false,
    false,     false,     false,    false,        false,   "binary (P5, P6), MAXVAL 1 to 65535",
    nullptr,
};

#include "tools/pictool/pam_io.h"

#include <cstring>

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

bool ReadRows(ImageInput& input, const NetpbmHeader& header, HostImage& image, std::string& error)
{
    const size_t sampleBytes = header.maxValue > 255 ? 2 : 1;
    const size_t rowSamples = size_t(header.width) * header.depth; // <= 32767 * 4
    std::vector<uint8_t> row(rowSamples * sampleBytes);
    // Every possible sample's 8-bit value, so rows cost a look-up per sample.
    std::vector<uint8_t> scale(size_t(header.maxValue) + 1);
    for (uint32_t value = 0; value <= header.maxValue; ++value)
        scale[value] = ScaleTo8(value, header.maxValue);
    uint8_t tuple[4];
    BeginRows(image, header.width, header.height);
    for (uint32_t y = 0; y < header.height; ++y) {
        if (input.Read(row.data(), row.size()) != row.size()) {
            error = input.Failed() ? "cannot read (" + SystemErrorText(errno) + ")"
                                   : "pixel data cut short at row " + std::to_string(y);
            return false;
        }
        uint16_t* pixel = AppendRow(image);
        const uint8_t* bytes = row.data();
        for (uint32_t x = 0; x < header.width; ++x, pixel += 4) {
            for (uint32_t s = 0; s < header.depth; ++s, bytes += sampleBytes) {
                const uint32_t value =
                    sampleBytes == 2 ? uint32_t(bytes[0] << 8 | bytes[1]) : bytes[0];
                tuple[s] = value > header.maxValue ? 255 : scale[value];
            }
            StoreTuple(tuple, header.depth, pixel);
        }
    }
    return true;
}

} // namespace

bool ReadNetpbm(ImageInput& input, uint64_t maxPixels, HostImage& image, std::string& error)
{
    const bool pam = input.Format() == ImageFormat::Pam;
    NetpbmHeader header;
    if (!(pam ? ReadPamHeader(input, header, error) : ReadPnmHeader(input, header, error)) ||
        !CheckHeader(header, pam, error) ||
        !CheckImageSize(header.width, header.height, maxPixels, error))
        return false;
    image.hasAlpha = header.depth == 2 || header.depth == 4;
    return ReadRows(input, header, image, error);
}

bool WritePam(const std::string& path, const HostImage& image, SampleDepth depth,
              std::string& error)
{
    const bool host = depth == SampleDepth::HostPixels;
    const bool wide = depth != SampleDepth::Eight;
    const size_t channels = host || image.hasAlpha ? 4 : 3;
    ImageOutput output;
    FILE* file = output.Open(path, error);
    if (file == nullptr)
        return false;
    std::fprintf(file, "P7\nWIDTH %u\nHEIGHT %u\nDEPTH %u\nMAXVAL %u\nTUPLTYPE %s\nENDHDR\n",
                 unsigned(image.width), unsigned(image.height), unsigned(channels),
                 wide ? 65535u : 255u, channels == 4 ? "RGB_ALPHA" : "RGB");
    std::vector<uint8_t> row(size_t(image.width) * channels * (wide ? 2 : 1));
    const uint16_t* pixel = image.channels.data();
    bool written = true;
    for (uint32_t y = 0; y < image.height && written; ++y) {
        uint8_t* out = row.data();
        for (uint32_t x = 0; x < image.width; ++x, pixel += 4) {
            for (size_t c = 0; c < channels; ++c) {
                const uint8_t high = uint8_t(pixel[c] >> 8);
                if (host) {
                    *out++ = high;
                    *out++ = uint8_t(pixel[c] & 0xFF);
                } else {
                    *out++ = high; // times 257 at 16 bits: both bytes the same
                    if (wide)
                        *out++ = high;
                }
            }
        }
        written = std::fwrite(row.data(), 1, row.size(), file) == row.size();
        if (!written)
            error = SystemErrorText(errno);
    }
    return output.Close(written, error);
}

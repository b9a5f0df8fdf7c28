#include "tools/pictool/pam_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "output/atomic_output.h"

namespace {

struct FileDeleter {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileDeleter>;

// Bounds on the header: a line longer than this or a header with more lines
// is not a PAM file of any reasonable kind.
constexpr size_t kMaxHeaderLine = 256;
constexpr int kMaxHeaderLines = 64;

struct PamHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 0;
    uint32_t maxValue = 0;
};

// One header line without its newline; false at the end of the file or for
// a line longer than kMaxHeaderLine.
bool ReadHeaderLine(FILE* file, std::string& line)
{
    line.clear();
    for (;;) {
        const int c = std::fgetc(file);
        if (c == EOF)
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

// Applies one "KEYWORD value" line; TUPLTYPE and unknown keywords are
// accepted and ignored, since DEPTH says what the tuples hold.
bool ApplyHeaderLine(const std::string& line, PamHeader& header, std::string& error)
{
    static const struct {
        const char* keyword;
        uint32_t PamHeader::*field;
    } numbers[] = {{"WIDTH", &PamHeader::width},
                   {"HEIGHT", &PamHeader::height},
                   {"DEPTH", &PamHeader::depth},
                   {"MAXVAL", &PamHeader::maxValue}};
    for (const auto& entry : numbers) {
        const size_t length = std::strlen(entry.keyword);
        if (line.compare(0, length, entry.keyword) != 0 ||
            (line.size() > length && line[length] != ' ' && line[length] != '\t'))
            continue;
        if (!ParseHeaderNumber(line.c_str() + length, header.*entry.field)) {
            error = std::string("bad ") + entry.keyword + " in PAM header";
            return false;
        }
        return true;
    }
    return true;
}

bool ReadPamHeader(FILE* file, PamHeader& header, std::string& error)
{
    std::string line;
    if (!ReadHeaderLine(file, line) || line != "P7") {
        error = "not a PAM file (no P7 line)";
        return false;
    }
    for (int count = 0; count < kMaxHeaderLines; ++count) {
        if (!ReadHeaderLine(file, line)) {
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

bool CheckPamHeader(const PamHeader& header, std::string& error)
{
    if (header.depth < 1 || header.depth > 4) {
        error = "PAM DEPTH must be 1 to 4";
        return false;
    }
    if (header.maxValue != 255 && header.maxValue != 65535) {
        error = "PAM MAXVAL must be 255 or 65535";
        return false;
    }
    return true;
}

// One tuple of `depth` samples (already widened to 16 bits) as a host pixel.
void StoreTuple(const uint16_t* samples, uint32_t depth, uint16_t* pixel)
{
    const bool grey = depth <= 2;
    pixel[0] = samples[0];
    pixel[1] = grey ? samples[0] : samples[1];
    pixel[2] = grey ? samples[0] : samples[2];
    pixel[3] = depth == 2 ? samples[1] : depth == 4 ? samples[3] : kOpaqueAlpha;
}

bool ReadPamRows(FILE* file, const PamHeader& header, HostImage& image, std::string& error)
{
    const size_t sampleBytes = header.maxValue > 255 ? 2 : 1;
    const size_t rowSamples = size_t(header.width) * header.depth; // <= 32767 * 4
    std::vector<uint8_t> row(rowSamples * sampleBytes);
    uint16_t tuple[4];
    for (uint32_t y = 0; y < header.height; ++y) {
        if (std::fread(row.data(), 1, row.size(), file) != row.size()) {
            error = "PAM pixel data cut short";
            return false;
        }
        uint16_t* pixel = image.channels.data() + size_t(y) * header.width * 4;
        for (uint32_t x = 0; x < header.width; ++x, pixel += 4) {
            const uint8_t* bytes = row.data() + size_t(x) * header.depth * sampleBytes;
            for (uint32_t s = 0; s < header.depth; ++s)
                tuple[s] = sampleBytes == 2 ? uint16_t(bytes[2 * s] << 8 | bytes[2 * s + 1])
                                            : uint16_t(bytes[s] << 8);
            StoreTuple(tuple, header.depth, pixel);
        }
    }
    return true;
}

} // namespace

bool ReadPamFile(const std::string& path, HostImage& image, std::string& error)
{
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = std::string("cannot open (") + std::strerror(errno) + ")";
        return false;
    }
    PamHeader header;
    if (!ReadPamHeader(file.get(), header, error) || !CheckPamHeader(header, error) ||
        !SizeHostImage(image, header.width, header.height, error))
        return false;
    image.hasAlpha = header.depth == 2 || header.depth == 4;
    return ReadPamRows(file.get(), header, image, error);
}

bool WritePamFile(const std::string& path, const HostImage& image, std::string& error)
{
    // Written beside the target and moved over it only when whole.
    AtomicOutput output;
    FILE* file = output.Open(path.c_str());
    if (file == nullptr) {
        error = std::string("cannot create (") + std::strerror(errno) + ")";
        return false;
    }
    std::fprintf(file,
                 "P7\nWIDTH %u\nHEIGHT %u\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                 unsigned(image.width), unsigned(image.height));
    std::vector<uint8_t> row(size_t(image.width) * 8);
    const uint16_t* channel = image.channels.data();
    bool written = true;
    for (uint32_t y = 0; y < image.height && written; ++y) {
        for (size_t i = 0; i < row.size(); i += 2, ++channel) {
            row[i] = uint8_t(*channel >> 8);
            row[i + 1] = uint8_t(*channel & 0xFF);
        }
        written = std::fwrite(row.data(), 1, row.size(), file) == row.size();
    }
    written = written && std::ferror(file) == 0; // the header's fprintf too
    if (!written || !output.Commit()) {
        error = std::string("cannot write (") + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

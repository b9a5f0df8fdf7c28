// `pictool convert`'s option table: each option's row, with its help
// lines and what takes its value. The sections are the help's headings.
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "engine/formats/format_table.h"
#include "tools/pictool/commands/convert_options.h"

namespace {

constexpr int kMaxJobs = 64;
// --max-block-mib at most: 1 TiB, far past any real block.
constexpr uint64_t kMaxBlockMibOption = uint64_t(1) << 20;

// Any finite number above 0 that a 32-bit float holds; otherwise why not.
bool ParseAspect(const std::string& text, float& aspect, std::string& why)
{
    char* end = nullptr;
    errno = 0;
    const double value = text.empty() ? 0.0 : std::strtod(text.c_str(), &end);
    const bool underflow = errno == ERANGE && std::fabs(value) <= DBL_MIN;
    if (text.empty() || end == text.c_str() || *end != '\0' || std::isnan(value))
        why = "not a number";
    else if (std::isinf(value) && errno != ERANGE)
        why = "not a finite number";
    else if (value < 0.0 || (value == 0.0 && !underflow))
        why = "must be greater than 0";
    else if (value > double(FLT_MAX))
        why = "larger than a 32-bit float holds (at most 3.4e38)";
    else if (underflow || float(value) == 0.0f)
        why = "too small for a 32-bit float (it would be 0)";
    else
        aspect = float(value);
    return why.empty();
}

// A whole number from 1 to `most`; otherwise says which.
bool ParseCount(const std::string& text, uint64_t most, uint64_t& value, std::string& why,
                const std::string& note = "")
{
    if (!text.empty() && text.size() <= 19 &&
        text.find_first_not_of("0123456789") == std::string::npos) {
        value = std::strtoull(text.c_str(), nullptr, 10);
        if (value >= 1 && value <= most)
            return true;
    }
    why = "give a number from 1 to " + std::to_string(most) + note;
    return false;
}

using Row = OptionRow<ConvertRequest>;
using Take = bool (*)(ConvertRequest&, const std::string&, std::string&);

Row Flag(const char* name, char shortName, OptionScope scope, const char* section, std::string help,
         Take take)
{
    return Row{{name, shortName, nullptr, scope, nullptr, section, std::move(help)}, take};
}

Row Value(const char* name, const char* value, OptionScope scope, const char* section,
          std::string help, Take take)
{
    return Row{{name, 0, value, scope, nullptr, section, std::move(help)}, take};
}

Row ForFormats(Row row, bool ImageFormat::*flag)
{
    row.info.formatFlag = flag;
    return row;
}

constexpr const char* kWritingPic = "Writing PIC";
constexpr const char* kReadingImages = "Reading images";
constexpr const char* kReadingPic = "Reading PIC";
constexpr const char* kSequences = "Sequences";
constexpr const char* kOther = "Other options";
constexpr OptionScope kAny = OptionScope::Any;
constexpr OptionScope kPicOut = OptionScope::PicOutput;

std::vector<Row> WritingPicRows()
{
    return {
        Flag("--alpha", 0, kPicOut, kWritingPic, "RGBA (the last of these two given wins)",
             [](ConvertRequest& r, const std::string&, std::string&) {
                 r.job.alpha = Switch::On;
                 return true;
             }),
        Flag("--no-alpha", 0, kPicOut, kWritingPic, "RGB",
             [](ConvertRequest& r, const std::string&, std::string&) {
                 r.job.alpha = Switch::Off;
                 return true;
             }),
        Flag("--rle", 0, kPicOut, kWritingPic, "run-length coded rows (the last of these two wins)",
             [](ConvertRequest& r, const std::string&, std::string&) {
                 r.job.compressed = Switch::On;
                 return true;
             }),
        Flag("--raw", 0, kPicOut, kWritingPic, "raw rows",
             [](ConvertRequest& r, const std::string&, std::string&) {
                 r.job.compressed = Switch::Off;
                 return true;
             }),
        Value("--comment", "TEXT", kPicOut, kWritingPic,
              "the user comment; the header keeps " + std::to_string(kCommentRoom) +
                  " bytes after\nthe driver's prefix, and a longer comment is cut\nbetween "
                  "characters with a warning (a comment\ncarried from IN is cut likewise, "
                  "silently)",
              [](ConvertRequest& r, const std::string& value, std::string&) {
                  r.job.comment = value;
                  r.job.commentGiven = true;
                  return true;
              }),
        Value("--aspect", "R", kPicOut, kWritingPic,
              "the pixel aspect ratio stored in the header:\nany finite number above 0 a 32-bit "
              "float holds",
              [](ConvertRequest& r, const std::string& value, std::string& why) {
                  r.job.aspectGiven = true;
                  return ParseAspect(value, r.job.aspect, why);
              }),
        Value("--options", "FILE", kPicOut, kWritingPic,
              "a saved 96-byte options block, given to the driver\n(LoadOptions) first; the "
              "flags above then edit it,\nand IN's alpha, layout and comment are not used",
              [](ConvertRequest& r, const std::string& value, std::string&) {
                  r.optionsPath = value;
                  return true;
              }),
        Value("--save-options", "FILE", kPicOut, kWritingPic,
              "the driver's options block (SaveOptions) after the\nwrite, 96 bytes",
              [](ConvertRequest& r, const std::string& value, std::string&) {
                  r.saveOptionsPath = value;
                  return true;
              }),
        Flag("--premult", 0, kPicOut, kWritingPic,
             "colour = round(colour * alpha / 255) (alpha 0 gives 0)",
             [](ConvertRequest& r, const std::string&, std::string&) {
                 r.job.premultiply = true;
                 return true;
             }),
    };
}

std::vector<Row> ReadingImageRows()
{
    return {
        Value("--part", "P", kPicOut, kReadingImages,
              "EXR: the part to read, by number (from 0) or name",
              [](ConvertRequest& r, const std::string& value, std::string&) {
                  r.job.read.part = value;
                  return true;
              }),
        Value("--ch", "LIST", kPicOut, kReadingImages,
              "EXR: a layer's name (diffuse), or 1 to 4 channel\nnames separated by commas, as "
              "oiiotool's --ch:\ngrey, grey and alpha, RGB or RGBA. Without these,\nthe first "
              "part with colour, and in it the\nunnamed R, G, B, A, else the one layer that "
              "has\nthem; a warning names the parts and layers left",
              [](ConvertRequest& r, const std::string& value, std::string&) {
                  r.job.read.channels = value;
                  return true;
              }),
        Value("--max-block-mib", "N", kPicOut, kReadingImages,
              "refuse an EXR block or tile (with all its\nchannels), a TIFF strip or tile, or a "
              "PNG chunk\nother than pixels, that declares more than N MiB\ndecoded, before "
              "decoding it (default " +
                  std::to_string(kDefaultMaxBlockMib) + ")",
              [](ConvertRequest& r, const std::string& value, std::string& why) {
                  return ParseCount(value, kMaxBlockMibOption, r.job.read.maxBlockMib, why);
              }),
        Value("--max-scans", "N", kPicOut, kReadingImages,
              "refuse a JPEG at its scan N + 1 (default " + std::to_string(kDefaultMaxScans) +
                  ";\nprogressive files have about 10)",
              [](ConvertRequest& r, const std::string& value, std::string& why) {
                  uint64_t scans = 0;
                  const bool ok = ParseCount(value, UINT32_MAX, scans, why);
                  r.job.read.maxScans = uint32_t(scans);
                  return ok;
              }),
    };
}

std::vector<Row> ReadingPicRows()
{
    return {
        ForFormats(Value("--depth", "BITS", kAny, kReadingPic,
                         "8 or 16 bits a sample (" + SixteenBitFormatNames() +
                             "); default: the\nPIC file's (16 for a 16-bit file, else 8). 16 "
                             "writes\nan 8-bit value times 257 (255 becomes 65535), 8\n"
                             "rounds a 16-bit value",
                         [](ConvertRequest& r, const std::string& value, std::string& why) {
                             r.depth = value;
                             why = "give 8 or 16";
                             return value == "8" || value == "16";
                         }),
                   &ImageFormat::sixteenBitOutput),
        ForFormats(Value("--quality", "N", kAny, kReadingPic, "JPEG quality, 1 to 100 (default 90)",
                         [](ConvertRequest& r, const std::string& value, std::string& why) {
                             uint64_t quality = 0;
                             const bool ok = ParseCount(value, 100, quality, why);
                             r.job.write.quality = int(quality);
                             return ok;
                         }),
                   &ImageFormat::takesQuality),
        ForFormats(
            Flag("--host-pixels", 0, kAny, kReadingPic,
                 "PAM only: the host's 16-bit storage as loaded, DEPTH\n4, MAXVAL 65535, "
                 "TUPLTYPE RGB_ALPHA, each value the\nfile's byte times 256 (a 16-bit value as it "
                 "is),\nalpha 0 when the file has none",
                 [](ConvertRequest& r, const std::string&, std::string&) {
                     r.hostPixels = true;
                     return true;
                 }),
            &ImageFormat::hostPixels),
        Flag("--unpremult", 0, OptionScope::PicInput, kReadingPic,
             "colour = round(colour * 255 / alpha), at most 255\n(alpha 0 and 255 leave colour "
             "as it is)",
             [](ConvertRequest& r, const std::string&, std::string&) {
                 r.job.unpremultiply = true;
                 r.job.write.straightAlpha = true;
                 return true;
             }),
        Flag("--allow-damaged", 0, kAny, kReadingPic, "exit 0 for a damaged PIC file all the same",
             [](ConvertRequest& r, const std::string&, std::string&) {
                 r.job.allowDamaged = true;
                 return true;
             }),
        Flag("--salvage", 0, kAny, kReadingPic,
             "read PIC files without the plug-in, and after a\nrun-length row that does not "
             "decode, look for the\nrows after it (as check --salvage); lost rows are\n"
             "transparent black (black without alpha). A salvaged\nfile is still damaged: "
             "exit status 1 unless\n--allow-damaged",
             [](ConvertRequest& r, const std::string&, std::string&) {
                 r.job.salvage = true;
                 return true;
             }),
    };
}

std::vector<Row> SequenceRows()
{
    return {
        Value("--frames", "LIST", kAny, kSequences,
              "the frames to convert, as oiiotool lists them:\n1-100, 1-100x4 (every 4th: 1, 5, "
              "... 97), 10-1\n(down), 10-1x3 (10, 7, 4, 1), 1-10y3 (all but\nevery 3rd), "
              "1,5,10-20, in the order given, each\nonce; frames 0 to 99999999. IN is a name\n"
              "pattern with one %d, %Nd or %0Nd (N from 1 to 9;\n%% is a '%'), or '#' (4 digits) "
              "and '@' (1 digit)\nsuch as in.#.png. OUT is a pattern too, or for\nPIC a plain "
              "name that the driver numbers:\nout.pic gives out0001.pic, ... Missing frames are\n"
              "counted and reported as ranges, failed ones each\nwith its reason, and the others "
              "go on.",
              [](ConvertRequest& r, const std::string& value, std::string& why) {
                  r.sequence = true;
                  r.framesText = value;
                  return ParseFrameList(value, r.frames, why);
              }),
        Value("--jobs", "N", kAny, kSequences,
              "convert N frames at once (default: the number of\ncores; 1 is one after "
              "another). Outputs and what\nstderr says, in frame order, do not depend on N.\n"
              "Each frame in work holds its pixels once, 8 bytes\na pixel in the host's storage, "
              "and rows stream\nthrough it: N frames of W x H take about\nN * 8 * W * H bytes, and "
              "each PIC input its size.",
              [](ConvertRequest& r, const std::string& value, std::string& why) {
                  uint64_t jobs = 0;
                  const bool ok = ParseCount(value, kMaxJobs, jobs, why);
                  r.jobs = int(jobs);
                  return ok;
              }),
    };
}

std::vector<Row> OtherRows()
{
    return {
        Value("--to", "FORMAT", kAny, kOther,
              OutputWords(false) + ": the output format, whatever\nOUT's name; needed when OUT "
                                   "is '-'",
              [](ConvertRequest& r, const std::string& value, std::string&) {
                  r.to = value;
                  return true;
              }),
        Value("--max-pixels", "N", kAny, kOther,
              "refuse inputs that declare more than N pixels,\nPIC headers included, before "
              "anything is\nallocated (default " +
                  std::to_string(kMaxImagePixels) + ", 2^" + std::to_string(kMaxStoragePixelsLog2) +
                  ",\nwhat the host's storage holds)",
              [](ConvertRequest& r, const std::string& value, std::string& why) {
                  return ParseCount(value, kMaxImagePixels, r.job.read.maxPixels, why,
                                    " (2^" + std::to_string(kMaxStoragePixelsLog2) + ")");
              }),
        Flag("--json", 0, kAny, kOther,
             "one JSON object on stdout (stderr when OUT is '-'):\nstatus (the last failing "
             "result code, else 0), ok\n(false whenever the exit status is not 0), error\n(on "
             "failure), width, height, alpha, compressed,\ninputs, outputs, frames (converted), "
             "skipped\n(outputs --no-clobber left alone), failures\n(frame, file, status and "
             "error of each), missing\n(the frames whose input does not exist, as a\nlist such "
             "as \"3-7,12\") and missingFrames (how\nmany), driverMs (wall-clock ms inside "
             "LoadImage or\nWriteFrame), damage (null, or the first damaged\nPIC input's "
             "{\"row\", \"offset\", \"reason\"}, as\n'pictool check --json' gives it), damaged "
             "(every\ndamaged PIC input: frame, null for a single image,\nfile, row, offset, "
             "reason), and of the last\nframe written: aspect (null when unknown),\ncomment, "
             "and carried (which of \"aspect\" and\n\"comment\" came from IN and OUT holds), "
             "and\nwarnings (\"FILE: what was left\" of every frame).\nFile names keep bytes that "
             "are not UTF-8 as\n\\udcXX, as Python's surrogateescape reads them.",
             [](ConvertRequest& r, const std::string&, std::string&) {
                 r.json = true;
                 return true;
             }),
        Flag("--no-clobber", 'n', kAny, kOther,
             "leave an OUT (or a frame's output) that exists as it\nis, a link to nowhere too: "
             "one line on stderr says\nit was skipped, and it is no failure; checked\nbefore "
             "each frame starts and as each output takes\nits name, so that one that appears "
             "meanwhile is\nkept",
             [](ConvertRequest& r, const std::string&, std::string&) {
                 r.job.noClobber = true;
                 return true;
             }),
        Flag("--quiet", 'q', kAny, kOther, "no progress line",
             [](ConvertRequest& r, const std::string&, std::string&) {
                 r.quiet = true;
                 return true;
             }),
        Flag("--help", 'h', kAny, kOther, "this text", nullptr),
        Flag("--", 0, kAny, kOther,
             "what follows are names, even if they start with '-'\nand, without --frames, even "
             "if they hold a '%'",
             nullptr),
    };
}

} // namespace

std::vector<OptionRow<ConvertRequest>> ConvertOptionRows()
{
    std::vector<Row> all;
    for (std::vector<Row> part :
         {WritingPicRows(), ReadingImageRows(), ReadingPicRows(), SequenceRows(), OtherRows()})
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// `pictool convert` end to end: the real pictool beside this test, loading
// the real PIC.BMI. PAM cases run everywhere (under Wine too); PNG cases run
// where pictool has libpng, with images written by libpng's simplified API
// and outputs decoded by stb_image, neither of which pictool uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/bitmap_storage.h"
#include "pic/pic_header.h"
#include "tests/layout_files.h"
#include "tests/test_support.h"

#if !defined(_WIN32)
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#if defined(ENGINE_HAVE_PNG) && defined(CONVERT_TEST_HAVE_STB)
#define CONVERT_TEST_PNG 1
#include <png.h>
#include <zlib.h>
#if defined(ENGINE_HAVE_JPEG)
#include <jpeglib.h>
#endif
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>
#endif

namespace {

// Runs `pictool convert ARGUMENTS...` with stdout and stderr captured in
// `dir`, standard input from `input` when given.
ProcessResult Convert(const TempDir& dir, std::vector<std::string> arguments,
                      const std::string& input = "")
{
    arguments.insert(arguments.begin(), "convert");
    return RunProgram(ProgramBesideTest("pictool"), arguments, dir.Path(), input);
}

// --- PAM files, written and read by hand --------------------------------

struct Pam {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 4;
    std::vector<uint16_t> samples; // depth per pixel, MAXVAL 65535
};

Bytes PamBytes(const Pam& pam, const char* tupleType)
{
    const std::string head = "P7\nWIDTH " + std::to_string(pam.width) + "\nHEIGHT " +
                             std::to_string(pam.height) + "\nDEPTH " + std::to_string(pam.depth) +
                             "\nMAXVAL 65535\nTUPLTYPE " + tupleType + "\nENDHDR\n";
    Bytes bytes(head.begin(), head.end());
    for (const uint16_t sample : pam.samples) {
        bytes.push_back(uint8_t(sample >> 8));
        bytes.push_back(uint8_t(sample));
    }
    return bytes;
}

// A PAM file as pictool writes it: its header's numbers and its samples.
struct OurPam {
    uint32_t width = 0, height = 0, depth = 0, maxValue = 0;
    std::string tupleType;
    std::vector<uint16_t> samples;
};

OurPam ParsePam(const Bytes& bytes)
{
    OurPam pam;
    const std::string text(bytes.begin(), bytes.end());
    const size_t end = text.find("ENDHDR\n");
    char type[32] = "";
    if (end == std::string::npos ||
        std::sscanf(text.c_str(), "P7\nWIDTH %u\nHEIGHT %u\nDEPTH %u\nMAXVAL %u\nTUPLTYPE %31s",
                    &pam.width, &pam.height, &pam.depth, &pam.maxValue, type) != 5)
        return OurPam{};
    pam.tupleType = type;
    const size_t sampleBytes = pam.maxValue > 255 ? 2 : 1;
    for (size_t i = end + 7; i + sampleBytes <= bytes.size(); i += sampleBytes)
        pam.samples.push_back(sampleBytes == 2 ? uint16_t(bytes[i] << 8 | bytes[i + 1]) : bytes[i]);
    return pam;
}

Pam MakeWidePam(uint32_t width, uint32_t height, uint32_t depth)
{
    Pam pam;
    pam.width = width;
    pam.height = height;
    pam.depth = depth;
    for (uint32_t i = 0; i < width * height * depth; ++i)
        pam.samples.push_back(uint16_t(i * 2654435761u >> 7)); // every bit pattern, spread
    return pam;
}

// The 8-bit value pictool makes of a 16-bit sample: the nearest one.
uint16_t Nearest8(uint16_t sample)
{
    return uint16_t((sample * 255u + 32767) / 65535);
}

Bytes Slice(const Bytes& bytes, size_t from, size_t count)
{
    if (from + count > bytes.size())
        return {};
    return Bytes(bytes.begin() + long(from), bytes.begin() + long(from + count));
}

std::string Repeat(const std::string& text, int times)
{
    std::string out;
    while (times-- > 0)
        out += text;
    return out;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// --- the tests ----------------------------------------------------------

// 16-bit PAM in, PIC, and PAM out in each of the three sample forms.
TEST(PictoolConvert, PamThroughPicKeepsTheNearestEightBitValues)
{
    const struct {
        uint32_t depth;
        std::vector<std::string> flags;
        bool alphaKept;
    } cases[] = {
        {4, {}, true},          {4, {"--raw"}, true}, {4, {"--no-alpha"}, false},
        {3, {}, false},         // no alpha in, none in the PIC
        {3, {"--alpha"}, true}, // forced: stored opaque
        {1, {"--raw"}, false},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const Pam input = MakeWidePam(37, 5, c.depth);
        const char* type = c.depth == 4 ? "RGB_ALPHA" : c.depth == 3 ? "RGB" : "GRAYSCALE";
        WriteFileBytes(dir.File("in.pam"), PamBytes(input, type));
        std::vector<std::string> toPic = {dir.File("in.pam"), dir.File("mid.pic")};
        toPic.insert(toPic.end(), c.flags.begin(), c.flags.end());
        ASSERT_EQ(Convert(dir, toPic).exitCode, 0) << c.depth;
        const std::vector<std::string> outputs[] = {{}, {"--depth", "16"}, {"--host-pixels"}};
        for (const auto& form : outputs) {
            std::vector<std::string> back = {dir.File("mid.pic"), dir.File("out.pam")};
            back.insert(back.end(), form.begin(), form.end());
            const ProcessResult run = Convert(dir, back);
            ASSERT_EQ(run.exitCode, 0) << run.err;
            const OurPam output = ParsePam(ReadFileBytes(dir.File("out.pam")));
            const bool host = !form.empty() && form[0] == "--host-pixels";
            const uint32_t channels = host || c.alphaKept ? 4 : 3;
            ASSERT_EQ(output.depth, channels) << testing::PrintToString(form);
            EXPECT_EQ(output.tupleType, channels == 4 ? "RGB_ALPHA" : "RGB");
            EXPECT_EQ(output.maxValue, form.empty() ? 255u : 65535u);
            ASSERT_EQ(output.samples.size(), size_t(37 * 5 * channels));
            for (size_t pixel = 0; pixel < size_t(37 * 5); ++pixel) {
                for (uint32_t channel = 0; channel < channels; ++channel) {
                    const uint16_t* in = input.samples.data() + pixel * c.depth;
                    uint16_t value = channel == 3 ? (c.depth == 4 ? Nearest8(in[3]) : 255)
                                                  : Nearest8(in[c.depth == 1 ? 0 : channel]);
                    if (channel == 3 && !c.alphaKept)
                        value = 0; // the host's storage of a file without alpha
                    const uint16_t expected = form.empty() ? value
                                              : host       ? uint16_t(value << 8)
                                                           : uint16_t(value * 257);
                    ASSERT_EQ(output.samples[pixel * channels + channel], expected)
                        << "depth " << c.depth << " pixel " << pixel << " channel " << channel
                        << " " << testing::PrintToString(form);
                }
            }
        }
    }
}

TEST(PictoolConvert, FlagsAndTheInputChooseThePacketLayout)
{
    const uint8_t rgbaRle[8] = {1, 8, 2, 0xE0, 0, 8, 2, 0x10};
    const uint8_t rgbaRaw[8] = {1, 8, 0, 0xE0, 0, 8, 0, 0x10};
    const struct {
        uint32_t depth;
        std::vector<std::string> flags;
        std::vector<uint8_t> packets;
    } cases[] = {
        {4, {}, {rgbaRle, rgbaRle + 8}},
        {4, {"--rle", "--alpha"}, {rgbaRle, rgbaRle + 8}},
        {4, {"--raw"}, {rgbaRaw, rgbaRaw + 8}},
        {4, {"--no-alpha"}, {0, 8, 2, 0xE0}},
        {4, {"--no-alpha", "--raw"}, {0, 8, 0, 0xE0}},
        {4, {"--no-alpha", "--alpha"}, {rgbaRle, rgbaRle + 8}}, // the last one wins
        {3, {}, {0, 8, 2, 0xE0}},
        {3, {"--alpha"}, {rgbaRle, rgbaRle + 8}},
        {2, {"--raw"}, {rgbaRaw, rgbaRaw + 8}}, // grey + alpha
    };
    for (const auto& c : cases) {
        TempDir dir;
        WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(3, 2, c.depth), ""));
        std::vector<std::string> arguments = {dir.File("in.pam"), dir.File("out.pic")};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        ASSERT_EQ(Convert(dir, arguments).exitCode, 0);
        const Bytes file = ReadFileBytes(dir.File("out.pic"));
        EXPECT_EQ(Slice(file, 104, c.packets.size()), Bytes(c.packets.begin(), c.packets.end()))
            << c.depth << " " << testing::PrintToString(c.flags);
    }
}

TEST(PictoolConvert, CommentAndAspectLandInTheHeader)
{
    const std::string prefix = kPicCommentPrefix;
    const struct {
        std::string comment;
        std::string aspect;
        std::string kept;
        Bytes aspectBytes;
        const char* warning; // part of the one warning line, or null for none
    } cases[] = {
        {"hello there", "2", "hello there", {0x40, 0x00, 0x00, 0x00}, nullptr},
        {std::string(44, 'x'), "0.5", std::string(44, 'x'), {0x3F, 0x00, 0x00, 0x00}, nullptr},
        // "a" and 30 two-byte characters: the 44th byte is the first of the 22nd.
        {"a" + Repeat("\xC3\xA9", 30),
         "3e38",
         "a" + Repeat("\xC3\xA9", 21),
         {0x7F, 0x61, 0xB1, 0xE6},
         "kept the first 43 bytes (22 of 31 characters)"},
        {std::string(100, 'y'),
         "1e-40",
         std::string(44, 'y'),
         {0x00, 0x01, 0x16, 0xC2},
         "--comment is 100 bytes; the header keeps 44"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(2, 2, 4), "RGB_ALPHA"));
        const ProcessResult run = Convert(dir, {dir.File("in.pam"), dir.File("out.pic"),
                                                "--comment", c.comment, "--aspect", c.aspect});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const Bytes file = ReadFileBytes(dir.File("out.pic"));
        Bytes comment(80, 0);
        std::memcpy(comment.data(), (prefix + c.kept).data(), prefix.size() + c.kept.size());
        EXPECT_EQ(Slice(file, 8, 80), comment) << c.comment;
        EXPECT_EQ(Slice(file, 96, 4), c.aspectBytes) << c.aspect;
        if (c.warning == nullptr) {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_TRUE(Contains(run.err, c.warning)) << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
    }
}

TEST(PictoolConvert, OptionsBlocksRoundTrip)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(4, 3, 4), "RGB_ALPHA"));
    ASSERT_EQ(Convert(dir, {dir.File("in.pam"), dir.File("a.pic"), "--no-alpha", "--raw",
                            "--comment", "kept", "--save-options", dir.File("saved.opt")})
                  .exitCode,
              0);
    const Bytes saved = ReadFileBytes(dir.File("saved.opt"));
    ASSERT_EQ(saved.size(), 96u);
    EXPECT_EQ(Slice(saved, 0, 12), (Bytes{0xCD, 0xCC, 0x6C, 0x40, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Slice(saved, 16, 5), (Bytes{'k', 'e', 'p', 't', 0}));

    // The saved block alone reproduces the file, its alpha flag over the
    // image's alpha; a flag then edits the block.
    ASSERT_EQ(
        Convert(dir, {dir.File("in.pam"), dir.File("b.pic"), "--options", dir.File("saved.opt")})
            .exitCode,
        0);
    EXPECT_EQ(ReadFileBytes(dir.File("b.pic")), ReadFileBytes(dir.File("a.pic")));
    ASSERT_EQ(Convert(dir, {dir.File("in.pam"), dir.File("c.pic"), "--options",
                            dir.File("saved.opt"), "--alpha"})
                  .exitCode,
              0);
    const Bytes withAlpha = ReadFileBytes(dir.File("c.pic"));
    EXPECT_EQ(Slice(withAlpha, 104, 8), (Bytes{1, 8, 0, 0xE0, 0, 8, 0, 0x10}));
    EXPECT_EQ(Slice(withAlpha, 8 + 35, 5), (Bytes{'k', 'e', 'p', 't', 0}));

    // Blocks that are not options blocks are refused before any work.
    WriteFileBytes(dir.File("zero.opt"), Bytes(96, 0));
    WriteFileBytes(dir.File("short.opt"), Slice(saved, 0, 95));
    for (const char* name : {"zero.opt", "short.opt", "missing.opt"}) {
        const ProcessResult refused =
            Convert(dir, {dir.File("in.pam"), dir.File("d.pic"), "--options", dir.File(name)});
        EXPECT_EQ(refused.exitCode, 2) << name;
        EXPECT_TRUE(Contains(refused.err, name)) << refused.err;
        EXPECT_FALSE(FileExists(dir.File("d.pic"))) << name;
    }
}

// Output patterns name frames as input patterns do; a plain PIC name is
// numbered by the driver. A missing frame is reported and the rest go on,
// and the files do not depend on --jobs.
TEST(PictoolConvert, SequencesGoOnPastMissingFramesWhateverTheJobs)
{
    TempDir dir;
    for (int frame = 8; frame <= 11; ++frame)
        if (frame != 10)
            WriteFileBytes(dir.File("in" + std::to_string(frame) + ".pam"),
                           PamBytes(MakeWidePam(3, uint32_t(frame), 4 - uint32_t(frame % 2)), ""));
    const struct {
        std::string output;
        std::string jobs;
        std::vector<std::string> names;
    } cases[] = {
        {"shot.pic", "1", {"shot0008.pic", "shot0009.pic", "shot0011.pic"}},
        {"j%d.pic", "1", {"j8.pic", "j9.pic", "j11.pic"}},
        {"k%d.pic", "3", {"k8.pic", "k9.pic", "k11.pic"}},
        {"b%03d.pam", "2", {"b008.pam", "b009.pam", "b011.pam"}}, // PIC in: from j*.pic below
    };
    for (const auto& c : cases) {
        const bool fromPic = c.output.find(".pam") != std::string::npos;
        const ProcessResult run =
            Convert(dir, {dir.File(fromPic ? "j%d.pic" : "in%d.pam"), dir.File(c.output),
                          "--frames", "8-11", "--jobs", c.jobs, "--json"});
        EXPECT_EQ(run.exitCode, 1) << c.output;
        for (const std::string& name : c.names)
            EXPECT_TRUE(FileExists(dir.File(name))) << name;
        EXPECT_TRUE(Contains(run.err, (fromPic ? "j10.pic" : "in10.pam") +
                                          std::string(": frame 10: no such file or directory")))
            << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(Contains(run.out, "\"frames\":3")) << run.out;
        EXPECT_TRUE(Contains(run.out, "\"failures\":[],\"missing\":\"10\",\"missingFrames\":1,"))
            << run.out;
    }
    EXPECT_FALSE(FileExists(dir.File("shot.pic")));
    for (const char* frame : {"8", "9", "11"}) {
        const Bytes one = ReadFileBytes(dir.File(std::string("j") + frame + ".pic"));
        EXPECT_EQ(ReadFileBytes(dir.File(std::string("k") + frame + ".pic")), one) << frame;
        EXPECT_EQ(Slice(one, 104, 1), Bytes{uint8_t(frame[0] == '8' ? 1 : 0)})
            << "each frame's own alpha: frame " << frame;
    }
    EXPECT_EQ(ReadFileBytes(dir.File("shot0011.pic")), ReadFileBytes(dir.File("j11.pic")));
}

TEST(PictoolConvert, UsageErrorsExitWithTwo)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(2, 2, 4), "RGB_ALPHA"));
    const std::string in = dir.File("in.pam");
    const std::string pic = dir.File("out.pic");
    const std::string pam = dir.File("out.pam");
    const struct {
        std::vector<std::string> arguments;
        const char* message; // part of the one line
    } cases[] = {
        {{in, pic, "--bogus"}, "unknown option '--bogus'"},
        {{in}, "one input and one output"},
        {{in, pic, dir.File("third.pic")}, "one input and one output"},
        {{in, dir.File("out.bmp")}, "OUT must end in .pic"},
        {{in, dir.File("out.ppm")}, "OUT must end in .pic"}, // read, not written
        {{in, "-"}, "needs --to pic"},
        {{in, "-", "--to", "bmp"}, "--to takes pic"},
        {{in, pic, "--comment"}, "--comment needs a value"},
        {{in, pic, "--aspect", "0"}, "--aspect '0': must be greater than 0"},
        {{in, pic, "--aspect", "-2"}, "must be greater than 0"},
        {{in, pic, "--aspect", "nan"}, "--aspect 'nan': not a number"},
        {{in, pic, "--aspect", "inf"}, "not a finite number"},
        {{in, pic, "--aspect", "1e40"}, "--aspect '1e40': larger than a 32-bit float holds"},
        {{in, pic, "--aspect", "1e-50"}, "too small for a 32-bit float"},
        {{in, pic, "--aspect", "1e-400"}, "too small for a 32-bit float"},
        {{in, pic, "--aspect", "1e400"}, "larger than a 32-bit float holds"},
        {{in, pic, "--aspect", "2x"}, "not a number"},
        {{in, pic, "--depth", "16"}, "--depth applies to "},
#if defined(ENGINE_HAVE_JPEG)
        {{pic, pam, "--quality", "80"}, "--quality applies to JPEG output"},
#else
        {{pic, pam, "--quality", "80"}, "--quality applies to no format this build writes"},
#endif
        {{pic, pam, "--premult"}, "--premult applies when writing PIC"},
        {{in, pic, "--unpremult"}, "--unpremult applies when reading PIC"},
        {{pic, pam, "--depth", "12"}, "--depth '12': give 8 or 16"},
#if defined(ENGINE_HAVE_PNG)
        {{pic, dir.File("out.png"), "--host-pixels"}, "--host-pixels applies to PAM output"},
#endif
#if defined(ENGINE_HAVE_JPEG)
        {{pic, dir.File("out.jpg"), "--quality", "0"},
         "--quality '0': give a number from 1 to 100"},
        {{pic, dir.File("out.jpg"), "--depth", "16"}, "--depth applies to "},
#endif
        {{pic, pam, "--host-pixels", "--depth", "16"}, "leave out --depth"},
        {{pic, pam, "--rle"}, "--rle applies when writing PIC"},
        {{in, pic, "--jobs", "0"}, "--jobs '0': give a number from 1 to 64"},
        {{in, pic, "--jobs", "x"}, "--jobs 'x'"},
        {{in, pic, "--max-pixels", "0"}, "--max-pixels '0'"},
        {{in, pic, "--max-pixels", "268435457"}, "2^28"},
        {{dir.File("in%04d.pam"), pic}, "give --frames"},
        {{dir.File("in%s.pam"), pic, "--frames", "1-2"}, "only %d, %Nd or %0Nd"},
        {{dir.File("in%d%d.pam"), pic, "--frames", "1-2"}, "more than one frame number"},
        {{dir.File("in%-4d.pam"), pic, "--frames", "1-2"}, "only %d"},
        {{dir.File("in.pam"), pic, "--frames", "1-2"}, "has no frame number"},
        {{dir.File("in%d.pic"), pam, "--frames", "1-2"}, "has no frame number"},
        {{dir.File("in%d.pam"), pic, "--frames", "3-3y2"},
         "--frames '3-3y2': '3-3y2' lists no frame"},
        {{dir.File("in%d.pam"), pic, "--frames", "1-4x0"}, "the step after 'x' is 1 or more"},
        {{dir.File("in%d.pam"), pic, "--frames", "1-100000000"}, "frames go from 0 to 99999999"},
        {{dir.File("100%d.pam"), pic}, "write %% for a '%' in a name"},
        {{"-", pic, "--frames", "1-2"}, "standard input or output"},
    };
    for (const auto& c : cases) {
        const ProcessResult run = Convert(dir, c.arguments);
        EXPECT_EQ(run.exitCode, 2) << testing::PrintToString(c.arguments) << run.err;
        EXPECT_EQ(run.err.rfind("pictool: convert: ", 0), 0u) << run.err;
        EXPECT_TRUE(Contains(run.err, c.message)) << c.message << " in " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_FALSE(FileExists(pic));
}

TEST(PictoolConvert, FailuresSayWhatHappenedToWhichFile)
{
    TempDir dir;
    const Bytes pam = PamBytes(MakeWidePam(2, 2, 4), "RGB_ALPHA");
    WriteFileBytes(dir.File("in.pam"), pam);
    WriteFileBytes(dir.File("in1.pam"), pam);
    WriteFileBytes(dir.File("cut.pam"), Slice(pam, 0, 70));
    WriteFileBytes(dir.File("text.pam"), Bytes{'h', 'e', 'l', 'l', 'o'});
    WriteFileBytes(dir.File("notpic.pic"), Bytes(200, 7));
    const Bytes header = MakePicHeaderBytes(2, 2, true, true);
    WriteFileBytes(dir.File("head.pic"), Slice(header, 0, 60));
    WriteFileBytes(dir.File("packets.pic"), Slice(header, 0, 106));
    std::filesystem::create_directory(dir.File("folder.pic"));
    WriteFileBytes(dir.File("huge.pic"), MakePicHeaderBytes(16384, 16384, false, true));
    WriteFileBytes(dir.File("vast.pic"), MakePicHeaderBytes(65535, 65535, false, true));
    WriteFileBytes(dir.File("empty.pic"), MakePicHeaderBytes(480, 0, false, true));
    const std::string hugePixels = std::to_string(16384 * 16384);
    const std::string vastPixels = std::to_string(65535ull * 65535);
    const std::string storage = std::to_string(kMaxStoragePixelsLog2);
    const struct {
        std::vector<std::string> arguments;
        std::string named;  // the file the message names
        std::string reason; // the message, or its start
        int status;         // in --json; -1: the system's to choose
    } cases[] = {
        {{dir.File("missing.pam"), dir.File("a.pic")},
         "missing.pam",
         "no such file or directory",
         2},
        {{dir.File("folder.pic"), dir.File("a.pic")}, "folder.pic", "is a directory", 2},
        {{dir.File("cut.pam"), dir.File("a.pic")}, "cut.pam", "pixel data cut short at row 0", 0},
        {{dir.File("text.pam"), dir.File("a.pic")}, "text.pam", "not an image read here", 0},
        {{dir.File("in.pam"), dir.File("a.pic"), "--max-pixels", "3"},
         "in.pam",
         "declares 2 x 2 (4 pixels), more than --max-pixels 3",
         0},
        {{dir.File("huge.pic"), dir.File("a.pam"), "--max-pixels", "1000"},
         "huge.pic",
         "declares 16384 x 16384 (" + hugePixels + " pixels), more than --max-pixels 1000",
         0},
        {{dir.File("vast.pic"), dir.File("a.pam")},
         "vast.pic",
         "declares 65535 x 65535 (" + vastPixels +
             " pixels), more than the host's storage holds "
             "(2^" +
             storage + " pixels)",
         0},
        {{dir.File("empty.pic"), dir.File("a.pam")}, "empty.pic", "no pixels: 480 x 0", 0},
        {{dir.File("notpic.pic"), dir.File("a.pam")}, "notpic.pic", "not a PIC file", 13},
        {{dir.File("head.pic"), dir.File("a.pam")}, "head.pic", "file ends inside the header", 13},
        {{dir.File("packets.pic"), dir.File("a.pam")},
         "packets.pic",
         "file ends inside the channel packets",
         13},
        {{dir.File("in.pam"), dir.File("a.pam")},
         "in.pam",
         "input is a PAM; the output must be .pic",
         13},
        {{dir.File("folder.pic"), dir.File("a.pam")}, "folder.pic", "is a directory", -1},
        {{dir.File("missing.pic"), dir.File("a.pam")},
         "missing.pic",
         "no such file or directory",
         2},
        {{dir.File("in.pam"), dir.File("no/such/folder/a.pic")},
         "a.pic",
         "no such file or directory",
         2},
        {{dir.File("in.pam"), dir.File("folder.pic")}, "folder.pic", "is a directory", 2},
        // Frames the driver numbers: the host's record names its template.
        {{dir.File("in%d.pam"), dir.File("no/such/folder/a.pic"), "--frames", "1-1"},
         "a0001.pic: frame 1",
         "no such file or directory",
         2},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back("--json");
        const ProcessResult run = Convert(dir, arguments);
        EXPECT_EQ(run.exitCode, 1) << c.named;
        EXPECT_EQ(run.err.rfind("pictool: ", 0), 0u) << run.err;
        EXPECT_TRUE(Contains(run.err, c.named + ": " + c.reason)) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        const std::string status = "\"status\":" + std::to_string(c.status) + ",\"ok\":false";
        EXPECT_TRUE(c.status < 0 || Contains(run.out, status)) << run.out;
        EXPECT_TRUE(Contains(run.out, "\"error\":\"" + c.reason)) << run.out;
    }
    EXPECT_FALSE(FileExists(dir.File("a.pic")));
}

TEST(PictoolConvert, JsonSummarisesTheRun)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(6, 4, 3), "RGB"));
    const ProcessResult run = Convert(dir, {dir.File("in.pam"), dir.File("out.pic"), "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* field :
         {"{\"status\":0,\"ok\":true,\"width\":6,\"height\":4,\"alpha\":false,\"compressed\":true,",
          "\"frames\":1,\"failures\":[],\"missing\":\"\",\"missingFrames\":0,\"driverMs\":"})
        EXPECT_TRUE(Contains(run.out, field)) << field << " in " << run.out;
    EXPECT_TRUE(Contains(run.out, "\"outputs\":[\"" + dir.File("out.pic").substr(0, 2))) << run.out;
    EXPECT_EQ(run.out.back(), '\n');
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << "one object, one line";
    EXPECT_TRUE(run.err.empty()) << "no progress without a terminal: " << run.err;
}

// '-' reads an image from standard input, told by its content, and writes
// one to standard output in the format --to names.
TEST(PictoolConvert, StandardInputAndOutput)
{
    TempDir dir;
    const Pam input = MakeWidePam(5, 3, 3);
    WriteFileBytes(dir.File("in.data"), PamBytes(input, "RGB"));
    ASSERT_EQ(Convert(dir, {"-", dir.File("mid.pic")}, dir.File("in.data")).exitCode, 0);
    const ProcessResult run = Convert(dir, {dir.File("mid.pic"), "-", "--to", "pam", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const OurPam output = ParsePam(Bytes(run.out.begin(), run.out.end()));
    ASSERT_EQ(output.samples.size(), input.samples.size());
    for (size_t i = 0; i < input.samples.size(); ++i)
        EXPECT_EQ(output.samples[i], Nearest8(input.samples[i])) << i;
    EXPECT_TRUE(Contains(run.err, "\"ok\":true")) << "the summary goes to stderr: " << run.err;

    // PIC both ways: the driver's file goes through a staging file.
    const ProcessResult pic = Convert(dir, {"-", "-", "--to", "pic"}, dir.File("in.data"));
    ASSERT_EQ(pic.exitCode, 0) << pic.err;
    EXPECT_EQ(Bytes(pic.out.begin(), pic.out.end()), ReadFileBytes(dir.File("mid.pic")));
    ASSERT_EQ(Convert(dir, {"-", dir.File("back.pam")}, dir.File("mid.pic")).exitCode, 0);
    EXPECT_EQ(ParsePam(ReadFileBytes(dir.File("back.pam"))).samples, output.samples);
    const ProcessResult wrong = Convert(dir, {"-", dir.File("x.pam")}, dir.File("in.data"));
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(Contains(wrong.err, "pictool: -: input is a PAM; the output must be .pic"))
        << wrong.err;
}

// A damaged file is written as loaded, with a warning and exit status 1
// unless --allow-damaged; the JSON summary says where the damage is.
TEST(PictoolConvert, CutShortPicConvertsWithAWarning)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(40, 30, 4), "RGB_ALPHA"));
    // Row 14 of a raw RGBA file of width 40 begins at 104 + 8 + 14 * 160.
    for (const char* layout : {"--rle", "--raw"}) {
        ASSERT_EQ(Convert(dir, {dir.File("in.pam"), dir.File("full.pic"), layout}).exitCode, 0);
        const Bytes full = ReadFileBytes(dir.File("full.pic"));
        WriteFileBytes(dir.File("cut.pic"), Slice(full, 0, full.size() / 2));
        const ProcessResult run =
            Convert(dir, {dir.File("cut.pic"), dir.File("out.pam"), "--json"});
        EXPECT_EQ(run.exitCode, 1) << layout << run.err;
        EXPECT_NE(run.err.find("warning: " + dir.File("cut.pic") + ": damaged: cut short in row "),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.out.find("\"status\":0"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\"damage\":{\"row\":14,\"offset\":"), std::string::npos) << run.out;
        if (std::string(layout) == "--raw") {
            EXPECT_NE(run.out.find("\"offset\":2352,\"reason\":\"cut short\"}"), std::string::npos)
                << run.out;
        }
        EXPECT_EQ(ParsePam(ReadFileBytes(dir.File("out.pam"))).samples.size(), size_t(40 * 30 * 4));
        const ProcessResult allowed =
            Convert(dir, {dir.File("cut.pic"), dir.File("out.pam"), "--allow-damaged"});
        EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
    }
    const ProcessResult whole = Convert(dir, {dir.File("full.pic"), dir.File("out.pam"), "--json"});
    EXPECT_EQ(whole.exitCode, 0);
    EXPECT_NE(whole.out.find("\"damage\":null"), std::string::npos) << whole.out;
    EXPECT_NE(whole.out.find("\"damaged\":[]"), std::string::npos) << whole.out;

    // In a sequence every damaged frame is listed; ok is false as the exit status is 1.
    const Bytes full = ReadFileBytes(dir.File("full.pic"));
    WriteFileBytes(dir.File("seq1.pic"), Slice(full, 0, full.size() / 2));
    WriteFileBytes(dir.File("seq2.pic"), full);
    WriteFileBytes(dir.File("seq3.pic"), Slice(full, 0, 200));
    const ProcessResult run =
        Convert(dir, {dir.File("seq%d.pic"), dir.File("out%d.pam"), "--frames", "1-3", "--json"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_TRUE(Contains(run.out, "\"ok\":false")) << run.out;
    EXPECT_TRUE(Contains(run.out, "\"damage\":{\"row\":14,")) << run.out;
    for (const char* part :
         {"\"damaged\":[{\"frame\":1,\"file\":\"",
          "seq1.pic\",\"row\":14,\"offset\":2352,\"reason\":\"cut short\"},{\"frame\":3,",
          "seq3.pic\",\"row\":0,\"offset\":112,\"reason\":\"cut short\"}]"})
        EXPECT_TRUE(Contains(run.out, part)) << part << " in " << run.out;
}

// A run-length file with a flipped count byte: check --salvage and convert
// --salvage say which rows are lost and how many were found again, the
// output has the rows found and the lost one transparent black, and both
// still exit 1 (0 with --allow-damaged). Without --salvage nothing changes.
TEST(PictoolConvert, SalvageFindsTheRowsAfterTheDamage)
{
    TempDir dir;
    const LayoutFile file = BuildLayoutFile(40, 12, {{2, 0xE0}, {2, 0x10}});
    Bytes broken = file.bytes;
    broken[file.rowStarts[4]] ^= 0x40; // row 4's first count
    WriteFileBytes(dir.File("whole.pic"), file.bytes);
    WriteFileBytes(dir.File("broken.pic"), broken);
    const std::string pictool = ProgramBesideTest("pictool");
    const std::string salvage = "\"salvage\":{\"lostRows\":[[4,4]],\"recoveredRows\":7}";
    const ProcessResult json =
        RunProgram(pictool, {"check", "--salvage", "--json", dir.File("broken.pic")}, dir.Path());
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_TRUE(Contains(json.out, "\"rowsComplete\":4,") && Contains(json.out, salvage))
        << json.out;
    const ProcessResult text =
        RunProgram(pictool, {"check", "--salvage", dir.File("broken.pic")}, dir.Path());
    EXPECT_TRUE(Contains(text.out, "; salvaged: row 4 lost, 7 rows found again after the damage"))
        << text.out;

    ASSERT_EQ(Convert(dir, {dir.File("whole.pic"), dir.File("whole.pam")}).exitCode, 0);
    const ProcessResult run =
        Convert(dir, {dir.File("broken.pic"), dir.File("out.pam"), "--salvage", "--json"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_TRUE(Contains(run.out, salvage)) << run.out;
    EXPECT_TRUE(Contains(run.err, "salvaged: row 4 lost")) << run.err;
    const std::vector<uint16_t> whole = ParsePam(ReadFileBytes(dir.File("whole.pam"))).samples;
    std::vector<uint16_t> expected = whole;
    const size_t row = 40 * 4;
    std::fill(expected.begin() + 4 * row, expected.begin() + 5 * row, 0);
    EXPECT_EQ(ParsePam(ReadFileBytes(dir.File("out.pam"))).samples, expected);
    EXPECT_EQ(
        Convert(dir, {dir.File("broken.pic"), dir.File("out.pic"), "--salvage", "--allow-damaged"})
            .exitCode,
        0);
    ASSERT_EQ(Convert(dir, {dir.File("out.pic"), dir.File("again.pam")}).exitCode, 0);
    EXPECT_EQ(ParsePam(ReadFileBytes(dir.File("again.pam"))).samples, expected);

    const ProcessResult plain =
        Convert(dir, {dir.File("broken.pic"), dir.File("plain.pam"), "--json"});
    EXPECT_FALSE(Contains(plain.out, "salvage")) << plain.out;
    std::fill(expected.begin() + 5 * row, expected.end(), 0);
    EXPECT_EQ(ParsePam(ReadFileBytes(dir.File("plain.pam"))).samples, expected);
}

TEST(PictoolConvert, HelpTellsTheOptions)
{
    TempDir dir;
    const ProcessResult run = Convert(dir, {"--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option :
         {"--alpha",       "--no-alpha",      "--rle",          "--raw",        "--comment",
          "--aspect",      "--options",       "--save-options", "--frames",     "--depth",
          "--host-pixels", "--jobs",          "--to",           "--max-pixels", "--quiet",
          "--json",        "--allow-damaged", "--no-clobber",   "times 257",    "'-'"})
        EXPECT_TRUE(Contains(run.out, option)) << option;
    // The formats of this build, from the table.
    for (const char* format : {"PIC      .pic", "PAM      .pam", "PGM/PPM  .pgm .ppm"})
        EXPECT_TRUE(Contains(run.out, format)) << format;
#if defined(ENGINE_HAVE_PNG)
    EXPECT_TRUE(Contains(run.out, "PNG      .png"));
#else
    EXPECT_FALSE(Contains(run.out, ".png "));
#endif
}

#if !defined(_WIN32)
// A write that fails part way (the device is full) exits 1 and says so; the
// link that led there stays as it was.
TEST(PictoolConvert, FailedWriteLeavesNoFile)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(40, 30, 4), "RGB_ALPHA"));
    ASSERT_EQ(Convert(dir, {dir.File("in.pam"), dir.File("in.pic")}).exitCode, 0);
    ASSERT_EQ(symlink("/dev/full", dir.File("full.pam").c_str()), 0);
    const ProcessResult run = Convert(dir, {dir.File("in.pic"), dir.File("full.pam")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.err, "full.pam: no space left on device\n")) << run.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("full.pam")));
}

// With stderr on a terminal the drivers' progress messages redraw one line.
TEST(PictoolConvert, ProgressOnATerminal)
{
    TempDir dir;
    for (int frame = 1; frame <= 2; ++frame)
        WriteFileBytes(dir.File("in" + std::to_string(frame) + ".pam"),
                       PamBytes(MakeWidePam(8, 8, 4), "RGB_ALPHA"));
    for (const bool quiet : {false, true}) {
        const std::string tool = ProgramBesideTest("pictool");
        std::vector<std::string> arguments = {
            tool,     "convert", dir.File("in%d.pam"), dir.File("o.pic"), "--frames", "1-2",
            "--jobs", "1"};
        if (quiet)
            arguments.push_back("--quiet");
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        int terminal = -1;
        const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
        ASSERT_GE(child, 0);
        if (child == 0) {
            execv(tool.c_str(), argv.data());
            _exit(127);
        }
        std::string screen;
        char buffer[512];
        for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;)
            screen.append(buffer, size_t(got));
        int status = 0;
        waitpid(child, &status, 0);
        close(terminal);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
        if (quiet) {
            EXPECT_EQ(screen, "");
            continue;
        }
        EXPECT_TRUE(Contains(screen, "\r0/2 " + dir.File("o0001.pic") + "   0%")) << screen;
        EXPECT_TRUE(Contains(screen, "\r1/2 " + dir.File("o0002.pic") + "  50%")) << screen;
        EXPECT_TRUE(Contains(screen, "\r1/2 " + dir.File("o0002.pic") + " 100%")) << screen;
        EXPECT_EQ(screen.find('\n'), std::string::npos) << "drawn in place: " << screen;
    }
}
#endif

#if defined(CONVERT_TEST_PNG)
// --- PNG files: written by libpng's simplified API, read by stb_image -----

struct Png8 {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0; // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
    std::vector<uint8_t> samples;
};

Png8 MakePng8(uint32_t width, uint32_t height, int channels)
{
    Png8 png{width, height, channels, {}};
    for (uint32_t i = 0; i < width * height * uint32_t(channels); ++i)
        png.samples.push_back(uint8_t(i * 2654435761u >> 13));
    return png;
}

bool WritePng8(const std::string& path, const Png8& png)
{
    static const png_uint_32 formats[] = {0, PNG_FORMAT_GRAY, PNG_FORMAT_GA, PNG_FORMAT_RGB,
                                          PNG_FORMAT_RGBA};
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png.width;
    image.height = png.height;
    image.format = formats[png.channels];
    return png_image_write_to_file(&image, path.c_str(), 0, png.samples.data(), 0, nullptr) != 0;
}

// Decoded as stored (no conversion of channel count or depth).
struct Decoded {
    int width = 0;
    int height = 0;
    int channels = 0;
    bool sixteen = false;
    std::vector<uint16_t> samples;
};

Decoded DecodePng(const std::string& path)
{
    Decoded decoded;
    decoded.sixteen = stbi_is_16_bit(path.c_str()) != 0;
    void* data = decoded.sixteen
                     ? static_cast<void*>(stbi_load_16(path.c_str(), &decoded.width,
                                                       &decoded.height, &decoded.channels, 0))
                     : static_cast<void*>(stbi_load(path.c_str(), &decoded.width, &decoded.height,
                                                    &decoded.channels, 0));
    if (data == nullptr)
        return Decoded{};
    const size_t count = size_t(decoded.width) * decoded.height * decoded.channels;
    for (size_t i = 0; i < count; ++i)
        decoded.samples.push_back(decoded.sixteen ? static_cast<uint16_t*>(data)[i]
                                                  : static_cast<uint8_t*>(data)[i]);
    stbi_image_free(data);
    return decoded;
}

// Written with libpng's full API, for what the simplified one cannot make:
// interlaced 16-bit RGB with a tRNS colour key.
bool WriteInterlacedKeyedPng(const std::string& path, uint32_t width, uint32_t height,
                             const std::vector<uint16_t>& samples, const png_color_16& key)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (file == nullptr || png == nullptr || info == nullptr || setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_tRNS(png, info, nullptr, 0, &key);
    png_write_info(png, info);
    std::vector<uint8_t> bytes;
    for (const uint16_t sample : samples) {
        bytes.push_back(uint8_t(sample >> 8));
        bytes.push_back(uint8_t(sample));
    }
    std::vector<png_bytep> rows;
    for (uint32_t y = 0; y < height; ++y)
        rows.push_back(bytes.data() + size_t(y) * width * 6);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

// 8-bit images keep their channel count and every value, whatever the
// layout; grey becomes RGB.
TEST(PictoolConvertPng, EightBitImagesRoundTripExactly)
{
    const struct {
        int channels;
        std::vector<std::string> flags;
        int outputChannels;
    } cases[] = {
        {4, {}, 4}, {4, {"--raw"}, 4}, {3, {}, 3}, {3, {"--raw"}, 3}, {1, {}, 3}, {2, {"--raw"}, 4},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const Png8 input = MakePng8(129, 7, c.channels);
        ASSERT_TRUE(WritePng8(dir.File("in.png"), input));
        std::vector<std::string> arguments = {dir.File("in.png"), dir.File("mid.pic")};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        ASSERT_EQ(Convert(dir, arguments).exitCode, 0);
        const ProcessResult back = Convert(dir, {dir.File("mid.pic"), dir.File("out.png")});
        ASSERT_EQ(back.exitCode, 0) << back.err;
        const Decoded output = DecodePng(dir.File("out.png"));
        EXPECT_EQ(output.width, 129);
        EXPECT_EQ(output.height, 7);
        ASSERT_EQ(output.channels, c.outputChannels);
        EXPECT_FALSE(output.sixteen);
        std::vector<uint16_t> expected;
        for (size_t pixel = 0; pixel < size_t(129 * 7); ++pixel) {
            const uint8_t* in = input.samples.data() + pixel * size_t(c.channels);
            const bool grey = c.channels <= 2;
            expected.insert(expected.end(), {in[0], grey ? in[0] : in[1], grey ? in[0] : in[2]});
            if (c.outputChannels == 4)
                expected.push_back(in[c.channels - 1]);
        }
        EXPECT_EQ(output.samples, expected) << c.channels << " channels";
    }
}

TEST(PictoolConvertPng, SixteenBitOutputScalesBy257)
{
    TempDir dir;
    const Png8 input = MakePng8(9, 2, 4);
    ASSERT_TRUE(WritePng8(dir.File("in.png"), input));
    ASSERT_EQ(Convert(dir, {dir.File("in.png"), dir.File("mid.pic")}).exitCode, 0);
    ASSERT_EQ(Convert(dir, {dir.File("mid.pic"), dir.File("out.png"), "--depth", "16"}).exitCode,
              0);
    const Decoded output = DecodePng(dir.File("out.png"));
    ASSERT_TRUE(output.sixteen);
    ASSERT_EQ(output.channels, 4);
    ASSERT_EQ(output.samples.size(), input.samples.size());
    for (size_t i = 0; i < input.samples.size(); ++i)
        EXPECT_EQ(output.samples[i], input.samples[i] * 257) << i;
}

// A 16-bit file of the tests' own encoder, with an 8-bit packet among the
// 16-bit ones: check and info say 16 bits; its PNG is 16-bit unless --depth 8
// and holds every value exactly (an 8-bit channel's v as v * 257); an 8-bit
// PNG and a JPEG hold
// each value rounded, the JPEG the same bytes as one from an 8-bit file of
// the rounded values.
TEST(PictoolConvertPng, SixteenBitPicKeepsEveryValueAndRounds)
{
    TempDir dir;
    constexpr uint32_t kWidth = 29, kHeight = 4;
    const std::vector<LayoutPacket> layout = {{2, 0xE0, 16}, {0, 0x10, 8}};
    WriteFileBytes(dir.File("wide.pic"), BuildLayoutFile(kWidth, kHeight, layout).bytes);
    const std::string pictool = ProgramBesideTest("pictool");
    const ProcessResult check =
        RunProgram(pictool, {"check", "--json", dir.File("wide.pic")}, dir.Path());
    EXPECT_TRUE(Contains(check.out, "\"bits\":16,")) << check.out;
    const ProcessResult info = RunProgram(pictool, {"info", dir.File("wide.pic")}, dir.Path());
    EXPECT_TRUE(Contains(info.out, "  bits         16 a channel\n")) << info.out;

    ASSERT_EQ(Convert(dir, {dir.File("wide.pic"), dir.File("16.png")}).exitCode, 0);
    ASSERT_EQ(Convert(dir, {dir.File("wide.pic"), dir.File("8.png"), "--depth", "8"}).exitCode, 0);
    const Decoded wide = DecodePng(dir.File("16.png"));
    const Decoded narrow = DecodePng(dir.File("8.png"));
    ASSERT_TRUE(wide.sixteen);
    ASSERT_EQ(wide.samples.size(), size_t(kWidth * kHeight * 4));
    ASSERT_EQ(narrow.samples.size(), wide.samples.size());
    Pam rounded{kWidth, kHeight, 4, {}};
    size_t mismatches = 0;
    for (size_t at = 0; at < wide.samples.size(); ++at) {
        const LayoutStored stored = LayoutStoredValue(layout, uint32_t(at / 4 % kWidth),
                                                      uint32_t(at / 4 / kWidth), int(at % 4));
        const bool eight = stored.bits == 8;
        const uint16_t nearest = eight ? stored.value : RoundTo8Bits(stored.value);
        mismatches += wide.samples[at] != (eight ? stored.value * 257 : stored.value);
        mismatches += narrow.samples[at] != nearest;
        rounded.samples.push_back(uint16_t(nearest * 257));
    }
    EXPECT_EQ(mismatches, 0u);
#if defined(ENGINE_HAVE_JPEG)
    WriteFileBytes(dir.File("rounded.pam"), PamBytes(rounded, "RGB_ALPHA"));
    ASSERT_EQ(Convert(dir, {dir.File("rounded.pam"), dir.File("rounded.pic")}).exitCode, 0);
    ASSERT_EQ(Convert(dir, {dir.File("rounded.pic"), dir.File("rounded.jpg")}).exitCode, 0);
    ASSERT_EQ(Convert(dir, {dir.File("wide.pic"), dir.File("wide.jpg")}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(dir.File("wide.jpg")), ReadFileBytes(dir.File("rounded.jpg")));
#endif
}

TEST(PictoolConvertPng, InterlacedSixteenBitWithAColourKey)
{
    TempDir dir;
    const png_color_16 key{0, 0x1000, 0x2000, 0x3000, 0};
    std::vector<uint16_t> samples;
    for (uint32_t i = 0; i < 11 * 9; ++i) {
        const bool keyed = i % 5 == 0;
        samples.insert(samples.end(),
                       {uint16_t(keyed ? 0x1000 : i * 601), uint16_t(keyed ? 0x2000 : 0x80FF),
                        uint16_t(keyed ? 0x3000 : 0xFFFF)});
    }
    ASSERT_TRUE(WriteInterlacedKeyedPng(dir.File("in.png"), 11, 9, samples, key));
    ASSERT_EQ(Convert(dir, {dir.File("in.png"), dir.File("mid.pic")}).exitCode, 0);
    ASSERT_EQ(Convert(dir, {dir.File("mid.pic"), dir.File("out.png")}).exitCode, 0);
    const Decoded output = DecodePng(dir.File("out.png"));
    ASSERT_EQ(output.channels, 4) << "the key becomes alpha";
    ASSERT_EQ(output.samples.size(), size_t(11 * 9 * 4));
    for (size_t pixel = 0; pixel < size_t(11 * 9); ++pixel) {
        for (size_t channel = 0; channel < 3; ++channel)
            EXPECT_EQ(output.samples[pixel * 4 + channel], Nearest8(samples[pixel * 3 + channel]))
                << pixel;
        EXPECT_EQ(output.samples[pixel * 4 + 3], pixel % 5 == 0 ? 0 : 255) << pixel;
    }
}

TEST(PictoolConvertPng, BadPngFailsWithOneBeforeAllocating)
{
    TempDir dir;
    ASSERT_TRUE(WritePng8(dir.File("good.png"), MakePng8(64, 64, 4)));
    const Bytes good = ReadFileBytes(dir.File("good.png"));
    Bytes corrupt = good;
    for (size_t i = 40; i < corrupt.size(); i += 3)
        corrupt[i] ^= 0x5A;
    WriteFileBytes(dir.File("corrupt.png"), corrupt);
    WriteFileBytes(dir.File("cut.png"), Slice(good, 0, good.size() / 2));
    WriteFileBytes(dir.File("head.png"), Slice(good, 0, 8));
    // 16384 x 16384 declared by a file that holds no pixel data: refused
    // from its size, before 2 GB of rows are set aside.
    Bytes huge = Slice(good, 0, 33);
    const uint8_t side[8] = {0, 0, 0x40, 0, 0, 0, 0x40, 0};
    std::copy(side, side + 8, huge.begin() + 16);
    const uint32_t crc = uint32_t(crc32(0, huge.data() + 12, 17));
    for (int shift = 24; shift >= 0; shift -= 8)
        huge[size_t(32 - shift / 8)] = uint8_t(crc >> shift);
    huge.insert(huge.end(), good.end() - 12, good.end()); // IEND
    WriteFileBytes(dir.File("huge.png"), huge);
    for (const char* name : {"corrupt.png", "cut.png", "head.png", "huge.png"}) {
        const ProcessResult run = Convert(dir, {dir.File(name), dir.File("out.pic")});
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_TRUE(Contains(run.err, std::string(name) + ": PNG data is corrupt or cut short"))
            << run.err;
        EXPECT_FALSE(FileExists(dir.File("out.pic"))) << name;
    }
}

#if defined(ENGINE_HAVE_JPEG)
// A JPEG is told by its content, whatever its name, and decodes as RGB.
TEST(PictoolConvertPng, JpegInputIsToldByItsContent)
{
    TempDir dir;
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &bytes, &size);
    info.image_width = 16;
    info.image_height = 16;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row;
    for (int x = 0; x < 16; ++x)
        row.insert(row.end(), {200, 100, 50});
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    WriteFileBytes(dir.File("photo.png"), Bytes(bytes, bytes + size));
    std::free(bytes);
    jpeg_destroy_compress(&info);

    ASSERT_EQ(Convert(dir, {dir.File("photo.png"), dir.File("mid.pic")}).exitCode, 0);
    ASSERT_EQ(Convert(dir, {dir.File("mid.pic"), dir.File("out.png")}).exitCode, 0);
    const Decoded output = DecodePng(dir.File("out.png"));
    ASSERT_EQ(output.channels, 3);
    ASSERT_EQ(output.samples.size(), size_t(16 * 16 * 3));
    for (size_t i = 0; i < output.samples.size(); i += 3) {
        EXPECT_NEAR(output.samples[i], 200, 2) << i;
        EXPECT_NEAR(output.samples[i + 1], 100, 2) << i;
        EXPECT_NEAR(output.samples[i + 2], 50, 2) << i;
    }
}
#endif
#endif

} // namespace

// The engine's image files and pixel rules: the netpbm reader's refusals and
// scaling, the limits checked before allocation, formats told by content
// and extension, premultiplying, densities, UTF-8 cuts, PNG and EXR files,
// and outputs that replace an earlier file only when whole.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "engine/convert/premultiply.h"
#include "engine/formats/format_table.h"
#include "engine/formats/image_input.h"
#include "engine/formats/image_output.h"
#include "engine/formats/whole_image.h"
#include "engine/support/system_error_text.h"
#include "engine/support/utf8_text.h"
#include "output/atomic_output.h"
#include "tests/test_support.h"
#if defined(ENGINE_HAVE_PNG)
#include <png.h>
#endif
#if defined(ENGINE_HAVE_EXR)
#include <ImfRgbaFile.h>

#include "engine/formats/exr_channels.h"
#endif

namespace {

using namespace std::string_literals;

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// Reads `bytes` from a file with the given limit.
bool ReadBytes(const Bytes& bytes, HostImage& image, std::string& error,
               uint64_t maxPixels = kMaxImagePixels)
{
    TempDir dir;
    WriteFileBytes(dir.File("x"), bytes);
    return ReadImageFile(dir.File("x"), maxPixels, image, error);
}

TEST(NetpbmReader, RefusesMalformedHeaders)
{
    const std::string rows(64, '\x7f');
    const struct {
        const char* what;
        std::string text;
        const char* message;
    } cases[] = {
        {"P3 (plain text)", "P3\n2 2\n255\n", "not an image pictool reads"},
        {"P7 then junk", "P7\nx", "cut short"},
        {"no ENDHDR", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\n", "cut short"},
        {"depth 5", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\n" + rows, "DEPTH"},
        {"depth 0", "P7\nWIDTH 1\nHEIGHT 1\nMAXVAL 255\nENDHDR\n" + rows, "DEPTH"},
        {"maxval 0", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 0\nENDHDR\n" + rows, "MAXVAL"},
        {"maxval 65536", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 65536\nENDHDR\n" + rows, "MAXVAL"},
        {"tuple type", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n",
         "TUPLTYPE CMYK"},
        {"type and depth",
         "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
         "needs DEPTH 4"},
        {"width 0", "P7\nWIDTH 0\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "no pixels"},
        {"too wide", "P7\nWIDTH 32768\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "32767"},
        {"too many pixels", "P7\nWIDTH 32767\nHEIGHT 32767\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "2^28"},
        {"ten digits", "P7\nWIDTH 4294967297\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "WIDTH"},
        {"sign", "P7\nWIDTH -1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "WIDTH"},
        {"junk after", "P7\nWIDTH 2x\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "WIDTH"},
        {"long line", "P7\n#" + std::string(300, 'c') + "\nENDHDR\n", "malformed"},
        {"endless", "P7\n" + std::string(100, '\n'), "no ENDHDR"},
        {"rows short", "P7\nWIDTH 2\nHEIGHT 2\nDEPTH 3\nMAXVAL 255\nENDHDR\nabcdefghij",
         "cut short at row 1"},
        {"ppm no maxval", "P6\n2 2\n", "PPM header cut short"},
        {"pgm letters", "P5\n2 x\n255\n", "PGM header"},
        {"ppm rows short", "P6 1 2 255\nabcd", "cut short at row 1"},
    };
    for (const auto& c : cases) {
        HostImage image;
        std::string error;
        EXPECT_FALSE(ReadBytes(Text(c.text), image, error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
}

TEST(NetpbmReader, ScalesEveryMaxvalToEightBitsWithRounding)
{
    const struct {
        const char* what;
        std::string text;
        bool hasAlpha;
        std::vector<uint16_t> channels;
    } cases[] = {
        {"grey + alpha",
         "P7\n# a comment\nWIDTH 2\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\n"
         "TUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n\x10\x20\xFF\x00"s,
         true,
         {0x1000, 0x1000, 0x1000, 0x2000, 0xFF00, 0xFF00, 0xFF00, 0}},
        // 0x1234 * 255 / 65535 = 18.1, 0x5678 -> 86.1, 0x9ABC -> 154.3
        {"16-bit RGB",
         "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 65535\nENDHDR\n\x12\x34\x56\x78\x9a\xbc",
         false,
         {0x1200, 0x5600, 0x9A00, kOpaqueAlpha}},
        {"maxval 1",
         "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 1\nTUPLTYPE GRAYSCALE\nENDHDR\n\x01\x00"s,
         false,
         {0xFF00, 0xFF00, 0xFF00, kOpaqueAlpha, 0, 0, 0, kOpaqueAlpha}},
        // 500 of 1000 is 127.5, rounded up; a sample above MAXVAL is full scale
        {"maxval 1000",
         "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 1000\nENDHDR\n"
         "\x01\xF4\x03\xE8\x00\x00\xFF\xFF"s,
         true,
         {0x8000, 0xFF00, 0x0000, 0xFF00}},
        {"pgm with comments",
         "P5 # grey\n2 # wide\n1\n# deep\n15\n\x0F\x07",
         false,
         {0xFF00, 0xFF00, 0xFF00, kOpaqueAlpha, 0x7700, 0x7700, 0x7700, kOpaqueAlpha}},
        {"16-bit ppm",
         "P6\n1 1\n65535\n\xFF\xFF\x00\x80\x01\x00"s,
         false,
         {0xFF00, 0x0000, 0x0100, kOpaqueAlpha}},
    };
    for (const auto& c : cases) {
        HostImage image;
        std::string error;
        ASSERT_TRUE(ReadBytes(Text(c.text), image, error)) << c.what << ": " << error;
        EXPECT_EQ(image.hasAlpha, c.hasAlpha) << c.what;
        EXPECT_EQ(image.channels, c.channels) << c.what;
    }
}

// Sizes are checked as declared, before pixels are allocated: a header that
// claims the most PIC holds over a few bytes costs nothing.
TEST(ImageLimits, DeclaredSizesAreCheckedBeforeAllocation)
{
    const std::string huge = "P7\nWIDTH 16384\nHEIGHT 16384\nDEPTH 3\nMAXVAL 255\nENDHDR\nabc";
    HostImage image;
    std::string error;
    EXPECT_FALSE(ReadBytes(Text(huge), image, error, 1000));
    EXPECT_NE(error.find("more than --max-pixels 1000"), std::string::npos) << error;
    EXPECT_FALSE(ReadBytes(Text(huge), image, error));
    EXPECT_NE(error.find("cut short at row 0"), std::string::npos) << error;
    EXPECT_LE(image.channels.capacity(), size_t(8) << 20) << "a bounded first reservation";
    EXPECT_TRUE(ReadBytes(Text("P5 10 100 255\n" + std::string(1000, 'x')), image, error, 1000))
        << "exactly at the limit: " << error;
}

TEST(ImageFiles, FormatsComeFromContentAndExtension)
{
    TempDir dir;
    const struct {
        const char* name;
        Bytes bytes;
        const char* format; // null: none
    } cases[] = {
        {"a.png", Text("P7\nWIDTH 1"), "PAM"},
        {"b", Bytes{0x53, 0x80, 0xF6, 0x34, 0}, "PIC"},
#if defined(ENGINE_HAVE_JPEG)
        {"c.pic", Bytes{0xFF, 0xD8, 0xFF, 0xE0}, "JPEG"},
#endif
#if defined(ENGINE_HAVE_TIFF)
        {"t", Bytes{0x49, 0x49, 42, 0}, "TIFF"},
        {"u", Bytes{0x4D, 0x4D, 0, 42}, "TIFF"},
#endif
#if defined(ENGINE_HAVE_EXR)
        {"x", Bytes{0x76, 0x2F, 0x31, 0x01, 2, 0, 0, 0}, "EXR"},
#endif
        {"d", Text("P6 1 1 255\n"), "PGM/PPM"},
        {"e", Text("P5\n"), "PGM/PPM"},
        {"f", Text("P6x"), nullptr},
        {"g", Bytes{}, nullptr},
    };
    for (const auto& c : cases) {
        WriteFileBytes(dir.File(c.name), c.bytes);
        ImageInput input;
        std::string error;
        ASSERT_TRUE(input.Open(dir.File(c.name), error)) << error;
        const ImageFormat* format = FormatOfInput(input);
        EXPECT_EQ(format ? std::string(format->name) : "none", c.format ? c.format : "none")
            << c.name;
        EXPECT_EQ(input.Size(), c.bytes.size()) << c.name;
    }
    std::filesystem::create_directory(dir.File("folder"));
    for (const char* name : {"folder", "missing"}) {
        ImageInput input;
        std::string error;
        EXPECT_FALSE(input.Open(dir.File(name), error));
        EXPECT_EQ(error,
                  std::string(name) == "folder" ? "is a directory" : "no such file or directory");
    }
    EXPECT_EQ(OutputFormatOfName("x.PIC"), &PicFormat());
    EXPECT_EQ(std::string(OutputFormatOfName("x.pam")->name), "PAM");
    EXPECT_EQ(OutputFormatOfName("pic"), nullptr);
    EXPECT_EQ(OutputFormatOfName("x.pic.bak"), nullptr);
    EXPECT_EQ(OutputFormatOfName("x.ppm"), nullptr) << "PPM is read, not written";
#if defined(ENGINE_HAVE_TIFF)
    EXPECT_EQ(OutputFormatOfName("x.tif"), OutputFormatOfWord("TIFF"));
#endif
}

// --premult and --unpremult leave alpha 255 exact both ways, and alpha 0
// gives colour 0 (premultiplied) or leaves it (straight).
TEST(Premultiply, IsExactAtTheEndsAndRoundsBetween)
{
    const struct {
        uint8_t colour, alpha, premultiplied, straight;
    } cases[] = {
        {200, 255, 200, 200}, {0, 255, 0, 0}, {200, 0, 0, 200},
        {100, 128, 50, 199}, // 100 * 128 / 255 = 50.2; 100 * 255 / 128 = 199.2
        {128, 128, 64, 255}, // colour equal to alpha is full scale
        {200, 100, 78, 255}, // more than alpha: clamped
    };
    for (const auto& c : cases) {
        uint16_t in[4] = {uint16_t(c.colour << 8), 0, uint16_t(255 << 8), uint16_t(c.alpha << 8)};
        uint16_t out[4] = {in[0], in[1], in[2], in[3]};
        PremultiplyRow(out, 1);
        EXPECT_EQ(out[0] >> 8, c.premultiplied) << int(c.colour) << "/" << int(c.alpha);
        EXPECT_EQ(out[3], in[3]);
        UnpremultiplyRow(in, 1);
        EXPECT_EQ(in[0] >> 8, c.straight) << int(c.colour) << "/" << int(c.alpha);
        EXPECT_EQ(in[1], 0);
    }
}

// Aspect ratios as whole densities: exact where a pair can be exact.
TEST(Density, GivesTheAspectBack)
{
    for (const float aspect : {1.0f, 2.0f, 0.5f, 1.25f, 0.9f, 1.0925926f, 3.0e-3f, 1000.0f}) {
        uint32_t across = 0, down = 0;
        DensityFromAspect(aspect, 0x7FFFFFFF, across, down);
        float back = 0.0f;
        ASSERT_TRUE(AspectFromDensity(across, down, back));
        EXPECT_EQ(back, aspect) << across << ":" << down;
    }
    float unchanged = 7.0f;
    EXPECT_FALSE(AspectFromDensity(0, 1, unchanged));
    EXPECT_EQ(unchanged, 7.0f);
}

TEST(Utf8Text, CutsOnlyBetweenCharacters)
{
    const std::string cafe = "caf\xC3\xA9";              // é is two bytes
    const std::string euro = "\xE2\x82\xAC";             // three bytes
    const std::string latin1 = "caf\xE9!";               // not UTF-8: one byte each
    const std::string overlong = "\xC0\xAF\xED\xA0\x80"; // an overlong '/' and a surrogate
    const struct {
        std::string text;
        size_t maxBytes;
        size_t cut;
        size_t characters;
    } cases[] = {
        {cafe, 5, 5, 4},
        {cafe, 4, 3, 3},
        {euro + euro, 5, 3, 1},
        {euro, 2, 0, 0},
        {latin1, 4, 4, 4},
        {overlong, 3, 3, 3},
        {"\xF0\x9F\x98\x80!", 4, 4, 1},
        {"\xF0\x9F\x98", 9, 3, 3}, // cut off: 3 strays
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8CutLength(c.text, c.maxBytes), c.cut) << testing::PrintToString(c.text);
        EXPECT_EQ(Utf8CharacterCount(c.text, c.cut), c.characters)
            << testing::PrintToString(c.text);
    }
}

#if defined(ENGINE_HAVE_PNG)
TEST(PngFiles, SixteenBitSamplesAreRoundedAndWrittenTimes257)
{
    TempDir dir;
    HostImage image;
    image.width = 3;
    image.height = 2;
    for (int i = 0; i < 24; ++i)
        image.channels.push_back(uint16_t((i * 37 % 256) << 8));
    for (const bool alpha : {true, false}) {
        image.hasAlpha = alpha;
        std::string error;
        ASSERT_TRUE(WriteImageFile(dir.File("x.png"), *OutputFormatOfWord("png"),
                                   WriteSettings{SampleDepth::Sixteen}, image, error))
            << error;
        HostImage back;
        ASSERT_TRUE(ReadImageFile(dir.File("x.png"), kMaxImagePixels, back, error)) << error;
        EXPECT_EQ(back.hasAlpha, alpha);
        for (size_t i = 0; i < image.channels.size(); ++i)
            EXPECT_EQ(back.channels[i], alpha || i % 4 != 3 ? image.channels[i] : kOpaqueAlpha);
    }
    // 16-bit samples between two 8-bit values go to the nearer one.
    const uint16_t samples[4] = {0x807F, 0x8080, 0x0080, 0xFFFF};
    png_image grey{};
    grey.version = PNG_IMAGE_VERSION;
    grey.width = 4;
    grey.height = 1;
    grey.format = PNG_FORMAT_LINEAR_Y;
    ASSERT_TRUE(png_image_write_to_file(&grey, dir.File("g.png").c_str(), 0, samples, 0, nullptr));
    HostImage back;
    std::string error;
    ASSERT_TRUE(ReadImageFile(dir.File("g.png"), kMaxImagePixels, back, error)) << error;
    EXPECT_EQ(back.channels[0], 0x8000); // 0x807F / 257 = 127.998 -> 128
    EXPECT_EQ(back.channels[4], 0x8000);
    EXPECT_EQ(back.channels[8], 0x0000);
    EXPECT_EQ(back.channels[12], 0xFF00);
}

TEST(PngFiles, RefusesImagesPicCannotHoldBeforeAllocating)
{
    TempDir dir;
    std::vector<uint8_t> row(32768, 0x40);
    png_image wide{};
    wide.version = PNG_IMAGE_VERSION;
    wide.width = 32768;
    wide.height = 1;
    wide.format = PNG_FORMAT_GRAY;
    ASSERT_TRUE(
        png_image_write_to_file(&wide, dir.File("wide.png").c_str(), 0, row.data(), 0, nullptr));
    HostImage image;
    std::string error;
    EXPECT_FALSE(ReadImageFile(dir.File("wide.png"), kMaxImagePixels, image, error));
    EXPECT_NE(error.find("32767"), std::string::npos) << error;
    EXPECT_FALSE(ReadImageFile(dir.File("wide.png"), 1000, image, error));
    EXPECT_NE(error.find("32767"), std::string::npos) << error;
}
#endif

#if defined(ENGINE_HAVE_EXR)
// A part of channels named by a blank-separated list.
ExrPart Part(const char* name, const std::string& channels, bool deep = false)
{
    ExrPart part;
    part.name = name;
    part.deep = deep;
    size_t start = 0;
    while (start < channels.size()) {
        const size_t blank = channels.find(' ', start);
        part.channels.push_back({channels.substr(start, blank - start)});
        start = blank == std::string::npos ? channels.size() : blank + 1;
    }
    return part;
}

TEST(ExrChannels, TheRuleOrPartAndChChooseWhatIsRead)
{
    const std::vector<ExrPart> blender = {
        Part("", "ViewLayer.Combined.A ViewLayer.Combined.B ViewLayer.Combined.G "
                 "ViewLayer.Combined.R ViewLayer.Depth.Z")};
    const std::vector<ExrPart> nuke = {Part("", "A B G R depth.Z motion.u motion.v")};
    const std::vector<ExrPart> twoLayers = {Part("", "diffuse.R diffuse.G spec.R spec.B")};
    const std::vector<ExrPart> parts = {Part("depth", "Z"), Part("deep", "R G B", true),
                                        Part("beauty", "B G R Y RY BY")};
    const std::vector<ExrPart> chroma = {Part("", "BY RY Y A")};
    const struct {
        const char* what;
        const std::vector<ExrPart>& parts;
        const char* part;
        const char* channels;
        const char* chosen; // "part: r g b a" ('-' for none), or the error's start
        const char* note;   // the first note, or ""
    } cases[] = {
        {"unnamed first", nuke, "", "", "0: R G B A",
         "read the unnamed layer; left layers depth, motion"},
        {"the one layer", blender, "", "",
         "0: ViewLayer.Combined.R ViewLayer.Combined.G ViewLayer.Combined.B ViewLayer.Combined.A",
         "read layer ViewLayer.Combined; left layer ViewLayer.Depth"},
        {"two layers", twoLayers, "", "", "EXR part 0 has colour in 2 layers (diffuse, spec)", ""},
        {"a layer by --ch", twoLayers, "", "spec", "0: spec.R - spec.B -", ""},
        {"a list by --ch", twoLayers, "", "spec.B,diffuse.G", "0: spec.B - - diffuse.G", ""},
        {"a name not there", twoLayers, "", "spec.G", "EXR has no layer or channels spec.G", ""},
        {"five names", twoLayers, "", "a,b,c,d,e", "--ch takes a layer, or 1 to 4", ""},
        {"an empty name", twoLayers, "", "spec.R,", "--ch takes a layer, or 1 to 4", ""},
        {"deep parts skipped", parts, "", "", "2: R G B -",
         "read part 2 (beauty); left parts 0, 1"},
        {"--part by name", parts, "depth", "Z", "0: Z - - -", ""},
        {"--part by number", parts, "2", "", "2: R G B -", ""},
        {"a deep part", parts, "1", "", "EXR part 1 (deep) holds deep data", ""},
        {"no such part", parts, "3", "", "EXR has no part 3 (it has part 0 (depth)", ""},
        {"no colour", parts, "0", "", "EXR has no R, G, B or Y channel in part 0 (depth)", ""},
        {"luminance-chroma", chroma, "", "", "0: Y RY BY A", ""},
    };
    for (const auto& c : cases) {
        ExrChoice choice;
        std::string error;
        if (!ChooseExrChannels(c.parts, c.part, c.channels, choice, error)) {
            EXPECT_EQ(error.rfind(c.chosen, 0), 0u) << c.what << ": " << error;
            continue;
        }
        std::string chosen = std::to_string(choice.part) + ":";
        for (const std::string& name : choice.names)
            chosen += " " + (name.empty() ? std::string("-") : name);
        EXPECT_EQ(chosen, c.chosen) << c.what;
        EXPECT_EQ(choice.colour == ExrColour::LumaChroma,
                  std::string(c.what) == "luminance-chroma");
        const std::string note = choice.notes.empty() ? "" : choice.notes[0];
        EXPECT_EQ(note.rfind(c.note, 0), 0u) << c.what << ": " << note;
    }
}

// Luminance-chroma as OpenEXR's RGBA interface writes it (chroma sampled
// 2 x 2) comes back as that interface reads it.
TEST(ExrFiles, LuminanceChromaIsReadAsOpenExrReadsIt)
{
    TempDir dir;
    const int width = 10, height = 8; // even: chroma is sampled 2 x 2
    std::vector<Imf::Rgba> written(size_t(width) * height);
    for (size_t index = 0; index < written.size(); ++index)
        written[index] = Imf::Rgba(float(index % 7) / 7.0f, float(index % 5) / 5.0f,
                                   float(index % 3) / 3.0f, float(index % 4) / 3.0f);
    {
        Imf::RgbaOutputFile out(dir.File("yc.exr").c_str(), width, height, Imf::WRITE_YCA);
        out.setFrameBuffer(written.data(), 1, size_t(width));
        out.writePixels(height);
    }
    std::vector<Imf::Rgba> expected(written.size());
    {
        Imf::RgbaInputFile in(dir.File("yc.exr").c_str());
        in.setFrameBuffer(expected.data(), 1, size_t(width));
        in.readPixels(0, height - 1);
    }
    HostImage image;
    std::string error;
    ASSERT_TRUE(ReadImageFile(dir.File("yc.exr"), kMaxImagePixels, image, error)) << error;
    ASSERT_EQ(image.width * image.height, expected.size());
    EXPECT_TRUE(image.hasAlpha);
    for (size_t index = 0; index < expected.size(); ++index) {
        const float values[4] = {expected[index].r, expected[index].g, expected[index].b,
                                 expected[index].a};
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(image.channels[index * 4 + size_t(c)], FloatTo8(values[c]) << 8)
                << index << " " << c;
    }
}
#endif

// PNG and PAM output replace an earlier file only when whole, and where a
// plain "wb" open would write.
struct OutputFormat {
    std::string name;
    const ImageFormat* format;
};

// Every format with a writer, as out.EXTENSION.
std::vector<OutputFormat> OutputFormats()
{
    std::vector<OutputFormat> outputs;
    for (const ImageFormat* format : ImageFormats())
        if (format->newWriter != nullptr)
            outputs.push_back({"out." + std::string(format->extensions)
                                            .substr(0, std::string(format->extensions).find(' ')),
                               format});
    return outputs;
}
const std::vector<OutputFormat> kOutputFormats = OutputFormats();

HostImage NoiseImage(uint32_t width, uint32_t height)
{
    HostImage image;
    image.width = width;
    image.height = height;
    image.channels.resize(size_t(width) * height * 4);
    uint32_t state = 12345;
    for (uint16_t& channel : image.channels) {
        state = state * 1664525u + 1013904223u;
        channel = uint16_t(state >> 16);
    }
    image.hasAlpha = true;
    return image;
}

TEST(ImageOutput, AFullDiskKeepsTheEarlierFile)
{
    const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    const HostImage image = NoiseImage(64, 64);
    for (const OutputFormat& output : kOutputFormats) {
        SCOPED_TRACE(output.name);
        SmallFileSystem disk(64 * 1024);
        if (!disk.Unavailable().empty())
            GTEST_SKIP() << disk.Unavailable();
        WriteFileBytes(disk.File(output.name), earlier);
        disk.Fill();
        std::string error;
        EXPECT_FALSE(
            WriteImageFile(disk.File(output.name), *output.format, WriteSettings{}, image, error));
        if (output.name == "out.pam") {
            EXPECT_NE(error.find(SystemErrorText(ENOSPC)), std::string::npos) << error;
        }
        EXPECT_EQ(ReadFileBytes(disk.File(output.name)), earlier);
        EXPECT_EQ(DescribeFolder(disk.File(""), earlier).find(".tmp"), std::string::npos);
    }
}

// --no-clobber's commit: a file that came while the output was written stays.
TEST(ImageOutput, KeepingCommitsWithoutReplacingWhatCameMeanwhile)
{
    TempDir dir;
    const std::string path = dir.File("t.pic");
    AtomicOutput output;
    FILE* file = output.Open(path.c_str(), AtomicOutput::Existing::Keep);
    ASSERT_NE(file, nullptr);
    std::fputs("new", file);
    const Bytes came = {'c', 'a', 'm', 'e'};
    WriteFileBytes(path, came);
    errno = 0;
    EXPECT_EQ(output.Commit(), 0);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(ReadFileBytes(path), came);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_EQ(output.Open(path.c_str(), AtomicOutput::Existing::Keep), nullptr);
    EXPECT_EQ(errno, EEXIST);
    // A link to nothing is a name that exists: kept, and nothing made where it leads.
    if (MakeSymbolicLink("real.pic", dir.File("link.pic"))) {
        EXPECT_EQ(output.Open(dir.File("link.pic").c_str(), AtomicOutput::Existing::Keep), nullptr);
        EXPECT_EQ(errno, EEXIST);
        EXPECT_FALSE(FileExists(dir.File("real.pic")));
    }
}

TEST(ImageOutput, AReadOnlyFileIsReplacedOnlyWhereWbWould)
{
    const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    const HostImage image = NoiseImage(2, 2);
    for (const OutputFormat& output : kOutputFormats) {
        SCOPED_TRACE(output.name);
        TempDir dir;
        WriteFileBytes(dir.File("probe"), earlier);
        WriteFileBytes(dir.File(output.name), earlier);
        const auto readOnly = std::filesystem::perms::owner_read |
                              std::filesystem::perms::group_read |
                              std::filesystem::perms::others_read;
        std::filesystem::permissions(dir.File("probe"), readOnly);
        std::filesystem::permissions(dir.File(output.name), readOnly);
        FILE* probe = std::fopen(dir.File("probe").c_str(), "wb");
        const bool wbWrites = probe != nullptr;
        if (probe != nullptr)
            std::fclose(probe);
        std::string error;
        EXPECT_EQ(
            WriteImageFile(dir.File(output.name), *output.format, WriteSettings{}, image, error),
            wbWrites)
            << error;
        EXPECT_EQ(ReadFileBytes(dir.File(output.name)) == earlier, !wbWrites);
        if (!wbWrites) {
            EXPECT_NE(error.find(SystemErrorText(EACCES)), std::string::npos) << error;
        }
    }
}

#if !defined(_WIN32)
TEST(ImageOutput, AnInterruptedWriteKeepsTheEarlierFile)
{
    // A child writes a large image; once its temporary file shows, it is
    // interrupted as Ctrl-C interrupts pictool.
    const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    const HostImage image = NoiseImage(2000, 2000);
    for (const OutputFormat& output : kOutputFormats) {
        SCOPED_TRACE(output.name);
        TempDir dir;
        WriteFileBytes(dir.File(output.name), earlier);
        std::fflush(nullptr);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            RemoveTemporaryFilesOnInterrupt();
            std::string error;
            WriteImageFile(dir.File(output.name), *output.format,
                           WriteSettings{SampleDepth::Sixteen}, image, error);
            _exit(3);
        }
        bool seen = false;
        for (int wait = 0; wait < 20000 && !seen; ++wait) {
            for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
                seen = seen || entry.path().filename().string()[0] == '.';
            if (!seen)
                usleep(1000);
        }
        kill(child, SIGINT);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(seen);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
        EXPECT_EQ(ReadFileBytes(dir.File(output.name)), earlier);
        EXPECT_EQ(DescribeFolder(dir.Path(), earlier).find(".tmp"), std::string::npos)
            << DescribeFolder(dir.Path(), earlier);
    }
}

// The scratch file that stands for standard input or output goes with an
// interrupt too.
TEST(StagingFile, AnInterruptRemovesIt)
{
    int names[2];
    ASSERT_EQ(pipe(names), 0);
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RemoveTemporaryFilesOnInterrupt();
        StagingFile staged;
        std::string error;
        const std::string line = staged.Path() + "\n";
        if (!staged.Create(error) || write(names[1], line.data(), line.size()) < 0)
            _exit(3);
        for (;;)
            pause();
    }
    close(names[1]);
    std::string path;
    char byte;
    while (read(names[0], &byte, 1) == 1 && byte != '\n')
        path += byte;
    close(names[0]);
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::exists(path));
    kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
    EXPECT_FALSE(std::filesystem::exists(path)) << path;
}
#endif

} // namespace

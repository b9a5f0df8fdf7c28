// The engine's two PIC codecs give the same files and the same JSON: the
// plug-in's drivers (pictool's) and pic/'s reader and writer (for programs
// that never load the plug-in), on a table of inputs, to every format this
// build writes, with the options that change what a PIC output holds.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/convert/convert_summary.h"
#include "engine/convert/library_codec.h"
#include "engine/formats/format_table.h"
#include "pic/pic_image.h"
#include "tests/layout_files.h"
#include "tests/test_support.h"
#include "tools/pictool/convert/driver_codec.h"

namespace {

// An 8-bit PAM of `width` x `height`, RGB or RGB_ALPHA, values that vary.
Bytes MakePam(int width, int height, bool alpha)
{
    const int depth = alpha ? 4 : 3;
    const std::string head = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " +
                             std::to_string(height) + "\nDEPTH " + std::to_string(depth) +
                             "\nMAXVAL 255\nTUPLTYPE " + (alpha ? "RGB_ALPHA" : "RGB") +
                             "\nENDHDR\n";
    Bytes bytes(head.begin(), head.end());
    for (int index = 0; index < width * height * depth; ++index)
        bytes.push_back(uint8_t(index % 7 == 0 ? 200 : (index * 37) % 251));
    return bytes;
}

// Converts `input` to `output` through `codec`; the outcome with its time cleared.
FrameOutcome ConvertOne(PicCodec& codec, const ConvertJob& job, const std::string& input,
                        const std::string& output, FrameProgress& progress)
{
    FrameOutcome outcome =
        ConvertFrame(codec, job, FrameTask{kSingleFrame, input, output}, progress);
    outcome.driverMs = 0.0;
    return outcome;
}

std::string Summary(const std::string& input, const std::string& output,
                    const FrameOutcome& outcome)
{
    ConvertRun run;
    run.tasks.push_back(FrameTask{kSingleFrame, input, output});
    run.outcomes.push_back(outcome);
    run.failed = !outcome.ok || outcome.damaged;
    return ConvertSummaryJson(run);
}

class Codecs : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        plugin = LoadPlugin(DefaultPluginPath(), error);
        ASSERT_TRUE(plugin) << error;
        driver = std::make_unique<DriverPicCodec>(*plugin, window);
    }

    // Both codecs, each into a folder of its own under the same name; the
    // files and the summaries must agree.
    void ExpectSame(const ConvertJob& job, const std::string& input, const std::string& what)
    {
        const std::string name = std::string("out.") + (job.toPic ? "pic" : Extension(job));
        const FrameOutcome ours = ConvertOne(library, job, input, viaLibrary.File(name), window);
        const FrameOutcome theirs = ConvertOne(*driver, job, input, viaDriver.File(name), window);
        EXPECT_TRUE(theirs.ok) << what << ": " << theirs.error;
        EXPECT_EQ(Summary(input, name, ours), Summary(input, name, theirs)) << what;
        EXPECT_EQ(ReadFileBytes(viaLibrary.File(name)), ReadFileBytes(viaDriver.File(name)))
            << what;
    }

    static std::string Extension(const ConvertJob& job)
    {
        const std::string words = job.outputFormat->extensions;
        return words.substr(0, words.find(' '));
    }

    ProgressDisplay display{false, 1};
    ProgressWindow window{display};
    std::unique_ptr<Plugin> plugin;
    std::unique_ptr<DriverPicCodec> driver;
    LibraryPicCodec library;
    TempDir inputs, viaLibrary, viaDriver;
};

TEST_F(Codecs, GiveTheSameFilesAndJsonForEveryFormat)
{
    WriteFileBytes(inputs.File("rgba.pam"), MakePam(37, 5, true));
    WriteFileBytes(inputs.File("rgb.pam"), MakePam(300, 3, false));
    // PIC inputs, made by the drivers: run-length RGBA with a comment and an
    // aspect, raw RGB, and a run-length file cut short (damaged).
    ConvertJob toPic;
    toPic.outputFormat = &PicFormat();
    toPic.toPic = true;
    ConvertJob made = toPic;
    made.commentGiven = true;
    made.comment = "take 2";
    made.aspectGiven = true;
    made.aspect = 1.25f;
    ASSERT_TRUE(
        ConvertOne(*driver, made, inputs.File("rgba.pam"), inputs.File("rle.pic"), window).ok);
    made.compressed = Switch::Off;
    ASSERT_TRUE(
        ConvertOne(*driver, made, inputs.File("rgb.pam"), inputs.File("raw.pic"), window).ok);
    Bytes cut = ReadFileBytes(inputs.File("rle.pic"));
    cut.resize(cut.size() - 40);
    WriteFileBytes(inputs.File("cut.pic"), cut);

    for (const char* input : {"rgba.pam", "rgb.pam", "rle.pic", "raw.pic", "cut.pic"}) {
        const bool pic = std::string(input).find(".pic") != std::string::npos;
        for (const ImageFormat* format : ImageFormats()) {
            const bool toFormat = format != &PicFormat() && format->newWriter != nullptr;
            if (!(format == &PicFormat() || (pic && toFormat)))
                continue;
            ConvertJob job;
            job.outputFormat = format;
            job.toPic = format == &PicFormat();
            ExpectSame(job, inputs.File(input), std::string(input) + " to " + format->name);
        }
    }
    // What the options change, and the premultiplied and straight ways.
    ConvertJob edited = toPic;
    edited.alpha = Switch::On;
    edited.compressed = Switch::Off;
    edited.premultiply = true;
    ExpectSame(edited, inputs.File("rgb.pam"), "RGB made RGBA and raw");
    ExpectSame(edited, inputs.File("raw.pic"), "a PIC without alpha written with it");
    edited.alpha = Switch::Off;
    edited.haveOptionsBlock = true;
    edited.optionsBlock = DefaultPicOptions();
    ExpectSame(edited, inputs.File("rle.pic"), "an options block");
    ConvertJob straight;
    for (const ImageFormat* format : ImageFormats())
        if (std::string(format->name) == "PAM")
            straight.outputFormat = format;
    ASSERT_NE(straight.outputFormat, nullptr);
    straight.unpremultiply = true;
    straight.write.depth = SampleDepth::HostPixels;
    ExpectSame(straight, inputs.File("rle.pic"), "host pixels, unpremultiplied");
}

// A 16-bit PAM's samples (MAXVAL 65535), after its header.
std::vector<uint16_t> WideSamples(const Bytes& pam)
{
    const std::string text(pam.begin(), pam.end());
    std::vector<uint16_t> samples;
    for (size_t at = text.find("ENDHDR\n") + 7; at + 1 < pam.size(); at += 2)
        samples.push_back(uint16_t(pam[at] << 8 | pam[at + 1]));
    return samples;
}

// 16-bit files of the tests' own encoder, with 8-bit packets among the
// 16-bit ones: both codecs give the same files to every format at both
// depths, a 16-bit PAM holds each value (an 8-bit channel's v as v * 257),
// and a PIC output, 8 bits a channel, each value rounded.
TEST_F(Codecs, KeepSixteenBitValuesAndRoundThemForEightBitOutputs)
{
    const std::vector<LayoutPacket> layouts[] = {
        {{2, 0xE0, 16}, {0, 0x10, 8}},
        {{2, 0xE0, 8}, {1, 0x40, 16}, {0, 0x10, 16}},
    };
    constexpr uint32_t kWidth = 23, kHeight = 3;
    for (const std::vector<LayoutPacket>& layout : layouts) {
        WriteFileBytes(inputs.File("wide.pic"), BuildLayoutFile(kWidth, kHeight, layout).bytes);
        for (const ImageFormat* format : ImageFormats()) {
            if (format != &PicFormat() && format->newWriter == nullptr)
                continue;
            for (const SampleDepth depth : {SampleDepth::Eight, SampleDepth::Sixteen}) {
                if (depth == SampleDepth::Sixteen && !format->sixteenBitOutput)
                    continue;
                ConvertJob job;
                job.outputFormat = format;
                job.toPic = format == &PicFormat();
                job.write.depth = depth;
                job.depthGiven = true;
                ExpectSame(job, inputs.File("wide.pic"), std::string("16-bit to ") + format->name);
                if (std::string(format->name) != "PAM" || depth != SampleDepth::Sixteen)
                    continue;
                const std::vector<uint16_t> samples =
                    WideSamples(ReadFileBytes(viaDriver.File("out.pam")));
                ASSERT_EQ(samples.size(), size_t(kWidth * kHeight * 4));
                size_t mismatches = 0;
                for (size_t at = 0; at < samples.size(); ++at) {
                    const LayoutStored stored = LayoutStoredValue(
                        layout, uint32_t(at / 4 % kWidth), uint32_t(at / 4 / kWidth), int(at % 4));
                    mismatches +=
                        samples[at] != (stored.bits == 8 ? stored.value * 257 : stored.value);
                }
                EXPECT_EQ(mismatches, 0u);
            }
        }
        const Bytes written = ReadFileBytes(viaDriver.File("out.pic"));
        const PicImage image = ReadPicImageMemory(written.data(), written.size(), true);
        ASSERT_NE(image.pixels, nullptr);
        size_t mismatches = 0;
        for (size_t at = 0; at < image.Values(); ++at) {
            const LayoutStored stored = LayoutStoredValue(layout, uint32_t(at / 4 % kWidth),
                                                          uint32_t(at / 4 / kWidth), int(at % 4));
            mismatches +=
                image.pixels[at] != (stored.bits == 16 ? RoundTo8Bits(stored.value) : stored.value);
        }
        EXPECT_EQ(mismatches, 0u);
    }
    ConvertJob host;
    for (const ImageFormat* format : ImageFormats())
        if (std::string(format->name) == "PAM")
            host.outputFormat = format;
    host.write.depth = SampleDepth::HostPixels;
    ExpectSame(host, inputs.File("wide.pic"), "16-bit host pixels");
    host.write.depth = SampleDepth::Eight;
    host.depthGiven = true;
    host.unpremultiply = true;
    ExpectSame(host, inputs.File("wide.pic"), "16-bit unpremultiplied");
}

// Salvage loads through pic/'s reader whichever codec writes: a file whose
// count byte was flipped gives the same outputs, PIC ones included.
TEST_F(Codecs, SalvageTheSameThroughEitherCodec)
{
    const LayoutFile file = BuildLayoutFile(40, 12, {{2, 0xE0}, {2, 0x10}});
    Bytes bytes = file.bytes;
    bytes[file.rowStarts[4]] ^= 0x40; // row 4's first count
    WriteFileBytes(inputs.File("broken.pic"), bytes);
    for (const ImageFormat* format : ImageFormats()) {
        if (format != &PicFormat() && format->newWriter == nullptr)
            continue;
        ConvertJob job;
        job.outputFormat = format;
        job.toPic = format == &PicFormat();
        job.salvage = true;
        ExpectSame(job, inputs.File("broken.pic"), std::string("salvaged to ") + format->name);
    }
    ConvertJob plain;
    plain.outputFormat = &PicFormat();
    plain.toPic = true;
    const FrameOutcome outcome =
        ConvertOne(*driver, plain, inputs.File("broken.pic"), viaDriver.File("plain.pic"), window);
    EXPECT_TRUE(outcome.damaged);
    EXPECT_EQ(outcome.salvage, "") << "salvage only when asked";
    plain.salvage = true;
    const FrameOutcome salvaged =
        ConvertOne(library, plain, inputs.File("broken.pic"), viaLibrary.File("plain.pic"), window);
    EXPECT_TRUE(salvaged.damaged);
    EXPECT_EQ(salvaged.salvage, "{\"lostRows\":[[4,4]],\"recoveredRows\":7}");
}

} // namespace

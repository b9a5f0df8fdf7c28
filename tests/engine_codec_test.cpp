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

} // namespace

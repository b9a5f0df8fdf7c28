// pictool's own image files and frame names: the PAM reader's refusals, the
// frame-name patterns it formats itself, and the progress bar's text.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include "host/window_message.h"
#include "output/atomic_output.h"
#include "tests/test_support.h"
#include "tools/pictool/image_io.h"
#include "tools/pictool/image_io_pattern.h"
#include "tools/pictool/progress_bar.h"
#if defined(PICTOOL_HAVE_PNG)
#include <png.h>

#include "tools/pictool/png_io.h"
#endif

namespace {

TEST(FramePattern, AcceptsOneNumberConversion)
{
    const struct {
        const char* text;
        int frame;
        const char* name;
    } cases[] = {
        {"in%d.png", 7, "in7.png"},
        {"in%04d.png", 7, "in0007.png"},
        {"in%04d.png", 123456, "in123456.png"},
        {"%3d", 7, "  7"},
        {"100%%_%02d.png", 5, "100%_05.png"},
        {"a%%%d%%", 0, "a%0%"},
        {"%9d", 1, "        1"},
    };
    for (const auto& c : cases) {
        FramePattern pattern;
        std::string error;
        ASSERT_TRUE(ParseFramePattern(c.text, pattern, error)) << c.text << ": " << error;
        EXPECT_EQ(FrameName(pattern, c.frame), c.name) << c.text;
    }
}

TEST(FramePattern, RefusesEverythingElse)
{
    for (const char* text :
         {"in.png", "",    "%%",   "%d%d", "%s",  "%x",  "%n", "%ld", "%-4d", "%+d",   "% d",
          "%00d",   "%0d", "%10d", "%.3d", "%*d", "in%", "%4", "%5%", "%d%n", "%04d%s"}) {
        FramePattern pattern;
        std::string error;
        EXPECT_FALSE(ParseFramePattern(text, pattern, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(FrameRange, ParsesBoundedRanges)
{
    const struct {
        const char* text;
        bool ok;
        int first;
        int last;
    } cases[] = {
        {"1-100", true, 1, 100},
        {"0-0", true, 0, 0},
        {"42", true, 42, 42},
        {"99999999", true, 99999999, 99999999},
        {"3-1", false, 0, 0},
        {"-1", false, 0, 0},
        {"1-", false, 0, 0},
        {"-", false, 0, 0},
        {"", false, 0, 0},
        {"1--2", false, 0, 0},
        {"a-b", false, 0, 0},
        {"1-100000000", false, 0, 0},
        {"1-9999999999", false, 0, 0},
        {" 1-2", false, 0, 0},
        {"1-2x", false, 0, 0},
        {"+1-2", false, 0, 0},
    };
    for (const auto& c : cases) {
        FrameRange range;
        std::string error;
        EXPECT_EQ(ParseFrameRange(c.text, range, error), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(range.first, c.first) << c.text;
            EXPECT_EQ(range.last, c.last) << c.text;
        }
    }
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

TEST(PamReader, RefusesMalformedHeaders)
{
    const std::string rows(64, '\x7f');
    const struct {
        const char* what;
        std::string text;
        const char* message;
    } cases[] = {
        {"no P7", "P6\n2 2\n255\n", "not a PNG or PAM"},
        {"P7 then junk", "P7\nx", "cut short"},
        {"no ENDHDR", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\n", "cut short"},
        {"depth 5", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\n" + rows, "DEPTH"},
        {"depth 0", "P7\nWIDTH 1\nHEIGHT 1\nMAXVAL 255\nENDHDR\n" + rows, "DEPTH"},
        {"maxval 1000", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 1000\nENDHDR\n" + rows, "MAXVAL"},
        {"width 0", "P7\nWIDTH 0\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "no pixels"},
        {"too wide", "P7\nWIDTH 32768\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "32767"},
        {"too many pixels", "P7\nWIDTH 32767\nHEIGHT 32767\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "2^28"},
        {"ten digits", "P7\nWIDTH 4294967297\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "WIDTH"},
        {"sign", "P7\nWIDTH -1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "WIDTH"},
        {"junk after", "P7\nWIDTH 2x\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nENDHDR\n", "WIDTH"},
        {"long line", "P7\n#" + std::string(300, 'c') + "\nENDHDR\n", "malformed"},
        {"endless", "P7\n" + std::string(100, '\n'), "no ENDHDR"},
        {"rows short", "P7\nWIDTH 2\nHEIGHT 2\nDEPTH 3\nMAXVAL 255\nENDHDR\nabcdefghij",
         "cut short"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        WriteFileBytes(dir.File("x.pam"), Text(c.text));
        HostImage image;
        std::string error;
        EXPECT_FALSE(ReadImageFile(dir.File("x.pam"), image, error)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
    }
}

TEST(PamReader, WidensGreyAndEightBitSamples)
{
    TempDir dir;
    Bytes grey = Text("P7\n# a comment\nWIDTH 2\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\n"
                      "TUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n");
    grey.insert(grey.end(), {0x10, 0x20, 0xFF, 0x00});
    WriteFileBytes(dir.File("grey.pam"), grey);
    HostImage image;
    std::string error;
    ASSERT_TRUE(ReadImageFile(dir.File("grey.pam"), image, error)) << error;
    EXPECT_TRUE(image.hasAlpha);
    EXPECT_EQ(image.channels,
              (std::vector<uint16_t>{0x1000, 0x1000, 0x1000, 0x2000, 0xFF00, 0xFF00, 0xFF00, 0}));

    WriteFileBytes(dir.File("rgb.pam"), Text("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 65535\n"
                                             "ENDHDR\n\x12\x34\x56\x78\x9a\xbc"));
    ASSERT_TRUE(ReadImageFile(dir.File("rgb.pam"), image, error)) << error;
    EXPECT_FALSE(image.hasAlpha);
    EXPECT_EQ(image.channels, (std::vector<uint16_t>{0x1234, 0x5678, 0x9abc, kOpaqueAlpha}));
}

TEST(ImageFiles, FormatsComeFromContentAndExtension)
{
    TempDir dir;
    WriteFileBytes(dir.File("a.png"), Text("P7\nWIDTH 1"));
    WriteFileBytes(dir.File("b"), Bytes{0x53, 0x80, 0xF6, 0x34, 0});
    EXPECT_EQ(SniffImageFormat(dir.File("a.png")), ImageFormat::Pam);
    EXPECT_EQ(SniffImageFormat(dir.File("b")), ImageFormat::Pic);
    EXPECT_EQ(SniffImageFormat(dir.File("missing")), ImageFormat::Unknown);
    EXPECT_EQ(FormatFromExtension("x.PIC"), ImageFormat::Pic);
    EXPECT_EQ(FormatFromExtension("x.Png"), ImageFormat::Png);
    EXPECT_EQ(FormatFromExtension("x.pam"), ImageFormat::Pam);
    EXPECT_EQ(FormatFromExtension("pic"), ImageFormat::Unknown);
    EXPECT_EQ(FormatFromExtension("x.pic.bak"), ImageFormat::Unknown);
}

TEST(ProgressBar, TextShowsTheShareDone)
{
    EXPECT_EQ(ProgressBarText(0, 100, 10), "[----------]   0%");
    EXPECT_EQ(ProgressBarText(25, 100, 10), "[##--------]  25%");
    EXPECT_EQ(ProgressBarText(50, 100, 10), "[#####-----]  50%");
    EXPECT_EQ(ProgressBarText(99, 99, 10), "[##########] 100%");
    EXPECT_EQ(ProgressBarText(0, 0, 10), "[##########] 100%"); // a one-row image
    EXPECT_EQ(ProgressBarText(500, 100, 10), "[##########] 100%");
    EXPECT_EQ(ProgressBarText(-5, 100, 10), "[----------]   0%");
}

// The driver's progress messages reach the bar through its window: the
// host's registry natively, a message-only window's procedure on Windows.
TEST(ProgressBar, DrawsTheMessagesSentToItsWindow)
{
    testing::internal::CaptureStderr();
    {
        ProgressBar bar(true);
        ASSERT_NE(bar.Window(), nullptr);
        bar.Begin("frame 1/2 a.pic");
        SendProgress(bar.Window(), 25, 100);
        SendProgress(bar.Window(), 25, 100); // unchanged: not drawn again
        SendProgress(bar.Window(), 100, 100);
        bar.End();
        SendProgress(bar.Window(), 50, 100); // after End: a new line of its own
    }
    const std::string drawn = testing::internal::GetCapturedStderr();
    EXPECT_EQ(drawn, "\rframe 1/2 a.pic [------------------------------]   0%"
                     "\rframe 1/2 a.pic [#######-----------------------]  25%"
                     "\rframe 1/2 a.pic [##############################] 100%\n"
                     "\rframe 1/2 a.pic [###############---------------]  50%\n");

    ProgressBar silent(false);
    EXPECT_EQ(silent.Window(), nullptr);
}

#if defined(PICTOOL_HAVE_PNG)
TEST(PngFiles, SixteenBitSamplesRoundTrip)
{
    TempDir dir;
    HostImage image;
    std::string error;
    ASSERT_TRUE(SizeHostImage(image, 3, 2, error));
    for (size_t i = 0; i < image.channels.size(); ++i)
        image.channels[i] = uint16_t(i * 5003 + 17);
    for (const bool alpha : {true, false}) {
        image.hasAlpha = alpha;
        ASSERT_TRUE(WritePngFile(dir.File("x.png"), image, 16, error)) << error;
        HostImage back;
        ASSERT_TRUE(ReadImageFile(dir.File("x.png"), back, error)) << error;
        EXPECT_EQ(back.hasAlpha, alpha);
        for (size_t i = 0; i < image.channels.size(); ++i)
            EXPECT_EQ(back.channels[i], alpha || i % 4 != 3 ? image.channels[i] : kOpaqueAlpha);
    }
}

TEST(PngFiles, RefusesImagesWiderThanPic)
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
    EXPECT_FALSE(ReadImageFile(dir.File("wide.png"), image, error));
    EXPECT_NE(error.find("32767"), std::string::npos) << error;
}
#endif

// PNG and PAM output replace an earlier file only when whole, and where a
// plain "wb" open would write.
struct OutputFormat {
    const char* name;
    ImageFormat format;
};
const OutputFormat kOutputFormats[] = {
#if defined(PICTOOL_HAVE_PNG)
    {"out.png", ImageFormat::Png},
#endif
    {"out.pam", ImageFormat::Pam},
};

HostImage NoiseImage(uint32_t width, uint32_t height)
{
    HostImage image;
    std::string error;
    SizeHostImage(image, width, height, error);
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
        EXPECT_FALSE(WriteImageFile(disk.File(output.name), output.format, 16, image, error));
        if (output.format == ImageFormat::Pam) {
            EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
        }
        EXPECT_EQ(ReadFileBytes(disk.File(output.name)), earlier);
        EXPECT_EQ(DescribeFolder(disk.File(""), earlier).find("~"), std::string::npos);
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
        EXPECT_EQ(WriteImageFile(dir.File(output.name), output.format, 8, image, error), wbWrites)
            << error;
        EXPECT_EQ(ReadFileBytes(dir.File(output.name)) == earlier, !wbWrites);
        if (!wbWrites) {
            EXPECT_NE(error.find(std::strerror(EACCES)), std::string::npos) << error;
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
            AtomicOutput::RemoveTemporaryFilesOnInterrupt();
            std::string error;
            WriteImageFile(dir.File(output.name), output.format, 16, image, error);
            _exit(3);
        }
        bool seen = false;
        for (int wait = 0; wait < 20000 && !seen; ++wait) {
            for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
                seen = seen || entry.path().filename().string()[0] == '~';
            if (!seen)
                usleep(1000);
        }
        kill(child, SIGINT);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(seen);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
        EXPECT_EQ(ReadFileBytes(dir.File(output.name)), earlier);
        EXPECT_EQ(DescribeFolder(dir.Path(), earlier).find("~"), std::string::npos)
            << DescribeFolder(dir.Path(), earlier);
    }
}
#endif

} // namespace

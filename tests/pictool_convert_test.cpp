// `pictool convert` end to end: the real pictool beside this test, loading
// the real PIC.BMI. PAM cases run everywhere (under Wine too); PNG cases run
// where pictool has libpng, with images written by libpng's simplified API
// and outputs decoded by stb_image, neither of which pictool uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "pic/pic_header.h"
#include "tests/test_support.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#if defined(PICTOOL_HAVE_PNG) && defined(CONVERT_TEST_HAVE_STB)
#define CONVERT_TEST_PNG 1
#include <png.h>
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>
#endif

namespace {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ToolPath()
{
#if defined(_WIN32)
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self(path, length);
    return self.substr(0, self.find_last_of("\\/") + 1) + "pictool.exe";
#else
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, length > 0 ? size_t(length) : 0);
    return self.substr(0, self.find_last_of('/') + 1) + "pictool";
#endif
}

std::string ReadText(const std::string& path)
{
    const Bytes bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

#if defined(_WIN32)
// One argument quoted for the C runtime's command-line parser.
std::string Quote(const std::string& argument)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

HANDLE OpenInheritable(const std::string& path)
{
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

int Spawn(const std::vector<std::string>& arguments, const std::string& outPath,
          const std::string& errPath)
{
    std::string commandLine = Quote(ToolPath());
    for (const std::string& argument : arguments)
        commandLine += " " + Quote(argument);
    HANDLE out = OpenInheritable(outPath);
    HANDLE err = OpenInheritable(errPath);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(out);
    CloseHandle(err);
    if (!started)
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return int(code);
}
#else
std::vector<char*> ArgumentVector(const std::string& tool, std::vector<std::string>& arguments)
{
    std::vector<char*> argv{const_cast<char*>(tool.c_str())};
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    return argv;
}

int Spawn(std::vector<std::string> arguments, const std::string& outPath,
          const std::string& errPath)
{
    const std::string tool = ToolPath();
    std::vector<char*> argv = ArgumentVector(tool, arguments);
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
#endif

// Runs `pictool convert ARGUMENTS...`, capturing stdout and stderr in `dir`.
RunResult Convert(const TempDir& dir, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "convert");
    RunResult result;
    const std::string outPath = dir.File("stdout.txt");
    const std::string errPath = dir.File("stderr.txt");
    result.exitCode = Spawn(arguments, outPath, errPath);
    result.out = ReadText(outPath);
    result.err = ReadText(errPath);
    return result;
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

// Our PAM output is always this header followed by the samples.
Pam ParseOurPam(const Bytes& bytes, uint32_t width, uint32_t height)
{
    const std::string head = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " +
                             std::to_string(height) +
                             "\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    Pam pam;
    if (bytes.size() != head.size() + size_t(width) * height * 8 ||
        std::memcmp(bytes.data(), head.data(), head.size()) != 0)
        return pam;
    pam.width = width;
    pam.height = height;
    for (size_t i = head.size(); i < bytes.size(); i += 2)
        pam.samples.push_back(uint16_t(bytes[i] << 8 | bytes[i + 1]));
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

Bytes Slice(const Bytes& bytes, size_t from, size_t count)
{
    if (from + count > bytes.size())
        return {};
    return Bytes(bytes.begin() + long(from), bytes.begin() + long(from + count));
}

// --- the tests ----------------------------------------------------------

TEST(PictoolConvert, PamThroughPicKeepsHighBytes)
{
    const struct {
        uint32_t depth;
        std::vector<std::string> flags;
        bool alphaKept;
    } cases[] = {
        {4, {}, true},
        {4, {"--raw"}, true},
        {4, {"--no-alpha"}, false},
        {3, {}, true}, // no alpha in the file: stored as 255, read back 0xFF00
        {3, {"--no-alpha", "--raw"}, false},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const Pam input = MakeWidePam(37, 5, c.depth);
        WriteFileBytes(dir.File("in.pam"), PamBytes(input, c.depth == 4 ? "RGB_ALPHA" : "RGB"));
        std::vector<std::string> toPic = {dir.File("in.pam"), dir.File("mid.pic")};
        toPic.insert(toPic.end(), c.flags.begin(), c.flags.end());
        ASSERT_EQ(Convert(dir, toPic).exitCode, 0) << c.depth;
        const RunResult back = Convert(dir, {dir.File("mid.pic"), dir.File("out.pam")});
        ASSERT_EQ(back.exitCode, 0) << back.err;
        const Pam output = ParseOurPam(ReadFileBytes(dir.File("out.pam")), 37, 5);
        ASSERT_EQ(output.samples.size(), size_t(37 * 5 * 4)) << "header or size wrong";
        for (size_t pixel = 0; pixel < size_t(37 * 5); ++pixel) {
            for (uint32_t channel = 0; channel < 4; ++channel) {
                uint16_t expected = 0;
                if (channel < 3)
                    expected = input.samples[pixel * c.depth + channel] & 0xFF00;
                else if (c.alphaKept)
                    expected = c.depth == 4 ? input.samples[pixel * 4 + 3] & 0xFF00 : 0xFF00;
                ASSERT_EQ(output.samples[pixel * 4 + channel], expected)
                    << "depth " << c.depth << " pixel " << pixel << " channel " << channel;
            }
        }
    }
}

TEST(PictoolConvert, FlagsChooseThePacketLayout)
{
    const uint8_t rgbaRle[8] = {1, 8, 2, 0xE0, 0, 8, 2, 0x10};
    const uint8_t rgbaRaw[8] = {1, 8, 0, 0xE0, 0, 8, 0, 0x10};
    const struct {
        std::vector<std::string> flags;
        std::vector<uint8_t> packets;
    } cases[] = {
        {{}, {rgbaRle, rgbaRle + 8}},
        {{"--rle", "--alpha"}, {rgbaRle, rgbaRle + 8}},
        {{"--raw"}, {rgbaRaw, rgbaRaw + 8}},
        {{"--no-alpha"}, {0, 8, 2, 0xE0}},
        {{"--no-alpha", "--raw"}, {0, 8, 0, 0xE0}},
        {{"--no-alpha", "--alpha"}, {rgbaRle, rgbaRle + 8}}, // the last one wins
    };
    for (const auto& c : cases) {
        TempDir dir;
        WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(3, 2, 4), "RGB_ALPHA"));
        std::vector<std::string> arguments = {dir.File("in.pam"), dir.File("out.pic")};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        ASSERT_EQ(Convert(dir, arguments).exitCode, 0);
        const Bytes file = ReadFileBytes(dir.File("out.pic"));
        EXPECT_EQ(Slice(file, 104, c.packets.size()), Bytes(c.packets.begin(), c.packets.end()))
            << testing::PrintToString(c.flags);
        if (c.packets.size() == 4 && c.packets[2] == 0) {
            EXPECT_EQ(file.size(), 108u + 3 * 2 * 3) << "raw RGB: header, packet, 3 bytes a pixel";
        }
    }
}

TEST(PictoolConvert, CommentAndAspectLandInTheHeader)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(2, 2, 4), "RGB_ALPHA"));
    ASSERT_EQ(Convert(dir, {dir.File("in.pam"), dir.File("out.pic"), "--comment", "hello there",
                            "--aspect", "2"})
                  .exitCode,
              0);
    const Bytes file = ReadFileBytes(dir.File("out.pic"));
    const std::string expected = std::string(kPicCommentPrefix) + "hello there";
    Bytes comment(80, 0);
    std::memcpy(comment.data(), expected.data(), expected.size());
    EXPECT_EQ(Slice(file, 8, 80), comment);
    EXPECT_EQ(Slice(file, 96, 4), (Bytes{0x40, 0x00, 0x00, 0x00})) << "2.0f big-endian";
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

    // The saved block alone reproduces the file; a flag then edits the block.
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
        const RunResult refused =
            Convert(dir, {dir.File("in.pam"), dir.File("d.pic"), "--options", dir.File(name)});
        EXPECT_EQ(refused.exitCode, 2) << name;
        EXPECT_NE(refused.err.find(name), std::string::npos) << refused.err;
        EXPECT_FALSE(FileExists(dir.File("d.pic"))) << name;
    }
}

TEST(PictoolConvert, SequencesAreNumberedByTheDriver)
{
    TempDir dir;
    for (int frame = 8; frame <= 10; ++frame)
        WriteFileBytes(dir.File("in" + std::to_string(frame) + ".pam"),
                       PamBytes(MakeWidePam(2, uint32_t(frame), 4), "RGB_ALPHA"));
    const RunResult run =
        Convert(dir, {dir.File("in%d.pam"), dir.File("shot.pic"), "--frames", "8-10", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* name : {"shot0008.pic", "shot0009.pic", "shot0010.pic"})
        EXPECT_TRUE(FileExists(dir.File(name))) << name;
    EXPECT_FALSE(FileExists(dir.File("shot.pic")));
    EXPECT_NE(run.out.find("\"frames\":3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"height\":10"), std::string::npos) << run.out;

    // And back, PIC sequence to PAM sequence, names formatted by pictool.
    const RunResult back =
        Convert(dir, {dir.File("shot%04d.pic"), dir.File("back%03d.pam"), "--frames", "9-10"});
    ASSERT_EQ(back.exitCode, 0) << back.err;
    EXPECT_TRUE(FileExists(dir.File("back009.pam")));
    EXPECT_TRUE(FileExists(dir.File("back010.pam")));
    EXPECT_FALSE(FileExists(dir.File("back008.pam")));

    // A missing frame stops the run with the frame's name.
    const RunResult gap =
        Convert(dir, {dir.File("in%d.pam"), dir.File("gap.pic"), "--frames", "9-11"});
    EXPECT_EQ(gap.exitCode, 1);
    EXPECT_NE(gap.err.find("in11.pam"), std::string::npos) << gap.err;
}

TEST(PictoolConvert, UsageErrorsExitWithTwo)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(2, 2, 4), "RGB_ALPHA"));
    const std::string in = dir.File("in.pam");
    const std::string pic = dir.File("out.pic");
    const std::vector<std::vector<std::string>> cases = {
        {in, pic, "--bogus"},
        {in},
        {in, pic, dir.File("third.pic")},
        {in, dir.File("out.bmp")},
        {in, pic, "--comment"},
        {in, pic, "--aspect", "0"},
        {in, pic, "--aspect", "nan"},
        {in, pic, "--comment", std::string(80, 'x')},
        {in, pic, "--depth", "16"},
        {pic, dir.File("out.png"), "--depth", "12"},
        {pic, dir.File("out.pam"), "--depth", "16"},
        {pic, dir.File("out.pam"), "--rle"},
        {dir.File("in%04d.pam"), pic},                                  // a pattern needs --frames
        {dir.File("in%s.pam"), pic, "--frames", "1-2"},                 // not a number conversion
        {dir.File("in%d%d.pam"), pic, "--frames", "1-2"},               // two of them
        {dir.File("in%-4d.pam"), pic, "--frames", "1-2"},               // a flag we do not take
        {dir.File("in.pam"), pic, "--frames", "1-2"},                   // no conversion at all
        {dir.File("in%d.pam"), dir.File("o%d.pic"), "--frames", "1-2"}, // the driver numbers PIC
        {dir.File("in%d.pic"), dir.File("o.pam"), "--frames", "1-2"},   // PAM output needs one
        {dir.File("in%d.pam"), pic, "--frames", "3-1"},
        {dir.File("in%d.pam"), pic, "--frames", "-1"},
        {dir.File("in%d.pam"), pic, "--frames", "1-x"},
        {dir.File("in%d.pam"), pic, "--frames", "1-100000000"},
    };
    for (const auto& arguments : cases) {
        const RunResult run = Convert(dir, arguments);
        EXPECT_EQ(run.exitCode, 2) << testing::PrintToString(arguments) << run.err;
        EXPECT_EQ(run.err.rfind("pictool: convert: ", 0), 0u) << run.err;
    }
    EXPECT_FALSE(FileExists(pic));
}

TEST(PictoolConvert, FailedImagesExitWithOneAndNameTheFile)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(2, 2, 4), "RGB_ALPHA"));
    WriteFileBytes(dir.File("cut.pam"), Slice(PamBytes(MakeWidePam(2, 2, 4), "RGB_ALPHA"), 0, 70));
    WriteFileBytes(dir.File("text.pam"), Bytes{'h', 'e', 'l', 'l', 'o'});
    WriteFileBytes(dir.File("notpic.pic"), Bytes(200, 7));
    const struct {
        std::vector<std::string> arguments;
        std::string named;  // the file the message names
        std::string reason; // part of the message
    } cases[] = {
        {{dir.File("missing.pam"), dir.File("a.pic")}, "missing.pam", "cannot open"},
        {{dir.File("cut.pam"), dir.File("a.pic")}, "cut.pam", "cut short"},
        {{dir.File("text.pam"), dir.File("a.pic")}, "text.pam", "not a PNG or PAM file"},
        {{dir.File("notpic.pic"), dir.File("a.pam")}, "notpic.pic", "cannot load (result 13"},
        {{dir.File("missing.pic"), dir.File("a.pam")}, "missing.pic", "cannot load (result 2: "},
        {{dir.File("in.pam"), dir.File("no/such/folder/a.pic")},
         "a.pic",
         "cannot write frame (result 2: "},
    };
    for (const auto& c : cases) {
        const RunResult run = Convert(dir, c.arguments);
        EXPECT_EQ(run.exitCode, 1) << c.named;
        EXPECT_EQ(run.err.rfind("pictool: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_FALSE(FileExists(dir.File("a.pic")));
}

TEST(PictoolConvert, JsonSummarisesTheRun)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(6, 4, 3), "RGB"));
    const RunResult run =
        Convert(dir, {dir.File("in.pam"), dir.File("out.pic"), "--json", "--no-alpha"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string& field :
         {std::string("\"status\":0"), std::string("\"ok\":true"), std::string("\"width\":6"),
          std::string("\"height\":4"), std::string("\"alpha\":false"),
          std::string("\"compressed\":true"), std::string("\"frames\":1"),
          std::string("\"driverMs\":")})
        EXPECT_NE(run.out.find(field), std::string::npos) << field << " in " << run.out;
    EXPECT_NE(run.out.find("\"outputs\":[\"" + dir.File("out.pic").substr(0, 2)), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.back(), '\n');
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << "one object, one line";
    EXPECT_TRUE(run.err.empty()) << "no progress bar without a terminal: " << run.err;

    // A driver failure is summarised with its code.
    const RunResult failed = Convert(dir, {dir.File("in.pam"), dir.File("out.pam"), "--json"});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.out.find("\"status\":13"), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find("\"ok\":false"), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find("\"outputs\":[]"), std::string::npos) << failed.out;
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
        const RunResult run = Convert(dir, {dir.File("cut.pic"), dir.File("out.pam"), "--json"});
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
        EXPECT_EQ(ParseOurPam(ReadFileBytes(dir.File("out.pam")), 40, 30).samples.size(),
                  size_t(40 * 30 * 4));
        const RunResult allowed =
            Convert(dir, {dir.File("cut.pic"), dir.File("out.pam"), "--allow-damaged"});
        EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
    }
    const RunResult whole = Convert(dir, {dir.File("full.pic"), dir.File("out.pam"), "--json"});
    EXPECT_EQ(whole.exitCode, 0);
    EXPECT_NE(whole.out.find("\"damage\":null"), std::string::npos) << whole.out;
}

TEST(PictoolConvert, HelpTellsTheOptions)
{
    TempDir dir;
    const RunResult run = Convert(dir, {"--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option :
         {"--alpha", "--no-alpha", "--rle", "--raw", "--comment", "--aspect", "--options",
          "--save-options", "--frames", "--depth", "--json", "--allow-damaged", "0xFF00"})
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
#if !defined(PICTOOL_HAVE_PNG)
    EXPECT_NE(run.out.find("no PNG support"), std::string::npos);
#endif
}

#if !defined(_WIN32)
// A write that fails part way (the device is full) exits 1; the link that
// led there stays as it was.
TEST(PictoolConvert, FailedWriteLeavesNoFile)
{
    TempDir dir;
    WriteFileBytes(dir.File("in.pam"), PamBytes(MakeWidePam(40, 30, 4), "RGB_ALPHA"));
    ASSERT_EQ(Convert(dir, {dir.File("in.pam"), dir.File("in.pic")}).exitCode, 0);
    ASSERT_EQ(symlink("/dev/full", dir.File("full.pam").c_str()), 0);
    const RunResult run = Convert(dir, {dir.File("in.pic"), dir.File("full.pam")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("full.pam: cannot write"), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("full.pam")));
}

// With stderr on a terminal the driver's progress messages draw a bar.
TEST(PictoolConvert, ProgressBarOnATerminal)
{
    TempDir dir;
    for (int frame = 1; frame <= 2; ++frame)
        WriteFileBytes(dir.File("in" + std::to_string(frame) + ".pam"),
                       PamBytes(MakeWidePam(8, 8, 4), "RGB_ALPHA"));
    const std::string tool = ToolPath();
    std::vector<std::string> arguments = {"convert", dir.File("in%d.pam"), dir.File("o.pic"),
                                          "--frames", "1-2"};
    std::vector<char*> argv = ArgumentVector(tool, arguments);
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        execv(tool.c_str(), argv.data() + 0);
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
    EXPECT_NE(screen.find("frame 1/2 " + dir.File("o0001.pic")), std::string::npos) << screen;
    EXPECT_NE(screen.find("frame 2/2 " + dir.File("o0002.pic")), std::string::npos) << screen;
    EXPECT_NE(screen.find(" 50%"), std::string::npos) << screen;
    EXPECT_NE(screen.find("] 100%"), std::string::npos) << screen;
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

TEST(PictoolConvertPng, EightBitImagesRoundTripExactly)
{
    const struct {
        int channels;
        std::vector<std::string> flags;
    } cases[] = {
        {4, {}},
        {4, {"--raw"}},
        {3, {"--no-alpha"}},
        {3, {"--no-alpha", "--raw"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const Png8 input = MakePng8(129, 7, c.channels);
        ASSERT_TRUE(WritePng8(dir.File("in.png"), input));
        std::vector<std::string> arguments = {dir.File("in.png"), dir.File("mid.pic")};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        ASSERT_EQ(Convert(dir, arguments).exitCode, 0);
        const RunResult back = Convert(dir, {dir.File("mid.pic"), dir.File("out.png")});
        ASSERT_EQ(back.exitCode, 0) << back.err;
        const Decoded output = DecodePng(dir.File("out.png"));
        EXPECT_EQ(output.width, 129);
        EXPECT_EQ(output.height, 7);
        EXPECT_EQ(output.channels, c.channels);
        EXPECT_FALSE(output.sixteen);
        EXPECT_EQ(output.samples, std::vector<uint16_t>(input.samples.begin(), input.samples.end()))
            << c.channels << " channels " << testing::PrintToString(c.flags);
    }
}

TEST(PictoolConvertPng, GreyAndOpaqueImagesAreExpanded)
{
    const struct {
        int channels;
        int outputChannels;
    } cases[] = {{1, 4}, {2, 4}, {3, 4}};
    for (const auto& c : cases) {
        TempDir dir;
        const Png8 input = MakePng8(5, 3, c.channels);
        ASSERT_TRUE(WritePng8(dir.File("in.png"), input));
        ASSERT_EQ(Convert(dir, {dir.File("in.png"), dir.File("mid.pic")}).exitCode, 0);
        ASSERT_EQ(Convert(dir, {dir.File("mid.pic"), dir.File("out.png")}).exitCode, 0);
        const Decoded output = DecodePng(dir.File("out.png"));
        ASSERT_EQ(output.channels, c.outputChannels);
        ASSERT_EQ(output.samples.size(), size_t(5 * 3 * 4));
        for (size_t pixel = 0; pixel < 15; ++pixel) {
            const uint8_t* in = input.samples.data() + pixel * size_t(c.channels);
            const bool grey = c.channels <= 2;
            const uint16_t expected[4] = {in[0], grey ? in[0] : in[1], grey ? in[0] : in[2],
                                          uint16_t(c.channels % 2 == 0 ? in[c.channels - 1] : 255)};
            for (int channel = 0; channel < 4; ++channel)
                EXPECT_EQ(output.samples[pixel * 4 + size_t(channel)], expected[channel])
                    << c.channels << " channels, pixel " << pixel << " channel " << channel;
        }
    }
}

TEST(PictoolConvertPng, SixteenBitOutputKeepsTheHostChannels)
{
    TempDir dir;
    const Pam input = MakeWidePam(9, 2, 4);
    WriteFileBytes(dir.File("in.pam"), PamBytes(input, "RGB_ALPHA"));
    ASSERT_EQ(Convert(dir, {dir.File("in.pam"), dir.File("mid.pic")}).exitCode, 0);
    ASSERT_EQ(Convert(dir, {dir.File("mid.pic"), dir.File("out.png"), "--depth", "16"}).exitCode,
              0);
    const Decoded output = DecodePng(dir.File("out.png"));
    ASSERT_TRUE(output.sixteen);
    ASSERT_EQ(output.channels, 4);
    ASSERT_EQ(output.samples.size(), input.samples.size());
    for (size_t i = 0; i < input.samples.size(); ++i)
        EXPECT_EQ(output.samples[i], input.samples[i] & 0xFF00) << i;
}

TEST(PictoolConvertPng, BadPngFailsWithOne)
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
    for (const char* name : {"corrupt.png", "cut.png", "head.png"}) {
        const RunResult run = Convert(dir, {dir.File(name), dir.File("out.pic")});
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_NE(run.err.find(std::string(name) + ": bad PNG"), std::string::npos) << run.err;
        EXPECT_FALSE(FileExists(dir.File("out.pic"))) << name;
    }
}
#endif

} // namespace

#include "pic/pic_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "tests/test_support.h"

namespace {

struct LayoutFields {
    int32_t withAlpha = -7;
    int32_t rgbCompressed = -7;
    int32_t alphaCompressed = -7;
};

// How the reader meets the bytes: a file, or a pipe, which cannot seek back.
enum class Stream { File, Pipe };

FILE* OpenStream(const Bytes& bytes, Stream stream, const TempDir& dir)
{
    if (stream == Stream::File) {
        const std::string path = dir.File("in.pic");
        WriteFileBytes(path, bytes);
        return std::fopen(path.c_str(), "rb");
    }
    int ends[2];
#if defined(_WIN32)
    if (_pipe(ends, 65536, _O_BINARY) != 0)
#else
    if (pipe(ends) != 0)
#endif
        return nullptr;
    // Every case fits the pipe's buffer: written whole before the read.
    EXPECT_LT(bytes.size(), 65536u);
    EXPECT_EQ(write(ends[1], bytes.data(), unsigned(bytes.size())), int(bytes.size()));
    close(ends[1]);
    return fdopen(ends[0], "rb");
}

// Reads `bytes` through `stream`; returns the reader's status, and in
// `position` how many bytes it took (what a later reader no longer sees).
PicHeaderStatus ReadHeaderFrom(const Bytes& bytes, PicHeader& header, LayoutFields& fields,
                               long* position, Stream stream = Stream::File)
{
    TempDir dir;
    FILE* file = OpenStream(bytes, stream, dir);
    EXPECT_NE(file, nullptr);
    if (file == nullptr)
        return PicHeaderStatus::ReadFailed;
    PicChannelPacket packet{};
    const PicHeaderStatus result = ReadPicHeader(file, header, packet, fields.withAlpha,
                                                 fields.rgbCompressed, fields.alphaCompressed);
    long left = 0;
    while (std::fgetc(file) != EOF)
        ++left;
    if (position != nullptr)
        *position = long(bytes.size()) - left;
    std::fclose(file);
    return result;
}

// The header a frame with these driver options gets: the comment after the
// prefix, then the header composed as the writer composes it.
Bytes WriteHeaderToBytes(const char* comment, int width, int height, float ratio, bool withAlpha,
                         bool compressed)
{
    PicWriteOptions options;
    options.compressed = compressed;
    options.aspect = ratio;
    ComposeHeaderComment(comment, options.comment);
    uint8_t header[kPicWrittenHeaderMax];
    const size_t size =
        ComposePicHeader(header, uint32_t(width), uint32_t(height), withAlpha, options);
    return Bytes(header, header + size);
}

std::string CommentOf(const Bytes& file)
{
    return std::string(reinterpret_cast<const char*>(file.data()) + 8, 80);
}

} // namespace

TEST(ComposePicHeader, ComposesEachLayoutByteForByte)
{
    for (const bool alpha : {false, true}) {
        for (const bool compressed : {false, true}) {
            EXPECT_EQ(WriteHeaderToBytes("", 640, 480, 1.0f, alpha, compressed),
                      MakePicHeaderBytes(640, 480, alpha, compressed, 1.0f))
                << alpha << compressed;
        }
    }
    const Bytes file = WriteHeaderToBytes("", 640, 480, 1.0f, true, true);
    ASSERT_EQ(file.size(), 112u);
    EXPECT_EQ(Bytes(file.begin() + 104, file.end()), (Bytes{1, 8, 2, 0xE0, 0, 8, 2, 0x10}));
}

TEST(ComposePicHeader, StoresDimensionsRatioFieldsAndPad)
{
    const Bytes file = WriteHeaderToBytes("", 0x1234, 0x8001, 4.0f / 3.0f, false, false);
    EXPECT_EQ(
        Bytes(file.begin() + 88, file.begin() + 104),
        (Bytes{'P', 'I', 'C', 'T', 0x12, 0x34, 0x80, 0x01, 0x3F, 0xAA, 0xAA, 0xAB, 0, 3, 0, 0}));
}

TEST(ComposePicHeader, JoinsThePrefixAndTheCommentWithinSeventyNineBytes)
{
    const std::string prefix = kPicCommentPrefix;
    struct Case {
        std::string comment;
        std::string stored;
    };
    const std::string fortyFour(44, 'a');
    const std::string fortyFive = fortyFour + "b";
    for (const Case& c : {Case{"", prefix}, Case{"hello", prefix + "hello"},
                          Case{fortyFour, prefix + fortyFour}, Case{fortyFive, prefix + fortyFour},
                          Case{std::string(79, 'z'), prefix + std::string(44, 'z')}}) {
        const std::string comment =
            CommentOf(WriteHeaderToBytes(c.comment.c_str(), 1, 1, 1, false, false));
        EXPECT_EQ(comment.substr(0, c.stored.size()), c.stored);
        EXPECT_EQ(comment.substr(c.stored.size()), std::string(80 - c.stored.size(), '\0'))
            << "comment of " << c.comment.size();
    }
}

TEST(ComposePicHeader, ReadsNoFurtherThanTheEightyByteField)
{
    // A loaded block may hold 80 comment bytes without a zero byte.
    char field[80];
    std::memset(field, 'q', sizeof field);
    const std::string comment = CommentOf(WriteHeaderToBytes(field, 1, 1, 1, false, false));
    EXPECT_EQ(comment.substr(35, 44), std::string(44, 'q'));
    EXPECT_EQ(comment[79], '\0');
}

TEST(ReadPicHeader, ReadsOurOwnHeaderAndStopsAtTheFirstRow)
{
    Bytes file = MakePicHeaderBytes(300, 200, true, false, 2.0f);
    file.push_back(0x99);
    for (const Stream stream : {Stream::File, Stream::Pipe}) {
        SCOPED_TRACE(stream == Stream::File ? "file" : "pipe");
        PicHeader header;
        LayoutFields fields;
        long position = 0;
        ASSERT_EQ(ReadHeaderFrom(file, header, fields, &position, stream), PicHeaderStatus::Read);
        EXPECT_EQ(position, 112);
        EXPECT_EQ(header.magic, kPicMagic);
        EXPECT_EQ(header.version, kPicVersionBits);
        EXPECT_EQ(header.width, 300);
        EXPECT_EQ(header.height, 200);
        EXPECT_EQ(header.ratio, 2.0f);
        EXPECT_EQ(header.fields, 3);
        EXPECT_EQ(std::memcmp(header.id, "PICT", 4), 0);
        EXPECT_EQ(fields.withAlpha, 1);
        EXPECT_EQ(fields.rgbCompressed, 0);
        EXPECT_EQ(fields.alphaCompressed, 0);
    }
}

TEST(ReadPicHeader, LayoutFieldsFollowThePackets)
{
    struct Case {
        Bytes packets;
        int withAlpha, rgbCompressed, alphaCompressed;
    };
    const Case cases[] = {
        {{0, 8, 2, 0xE0}, 0, 1, -7},               // RGB compressed: alpha flag untouched
        {{0, 8, 0, 0xE0}, 0, 0, -7},               // RGB raw
        {{1, 8, 2, 0xE0, 0, 8, 2, 0x10}, 1, 1, 1}, // RGBA compressed
        {{1, 8, 0, 0xE0, 0, 8, 2, 0x10}, 1, 0, 1}, // mixed
        {{0, 8, 2, 0xF0}, 1, 1, 1},                // colour and alpha in one mask
        {{1, 8, 1, 0xE0, 0, 8, 0, 0x10}, 1, 0, 0}, // pure run-length is not type 2
        {{0, 8, 2, 0x10}, 1, -7, 1},               // alpha alone
        {{1, 8, 2, 0x10, 5, 8, 0, 0xE0}, 1, 0, 1}, // chained 5 ends the chain
        {{1, 8, 2, 0x10, 0, 8, 0, 0xE0}, 1, 0, 1}, // alpha first
        {{1, 8, 2, 0x80, 1, 8, 0, 0x40, 0, 8, 2, 0x2F}, 0, 1, -7}, // one per colour, low bits
    };
    for (const Case& c : cases) {
        Bytes file = MakePicHeaderBytes(4, 4, false, false);
        file.resize(104);
        file.insert(file.end(), c.packets.begin(), c.packets.end());
        PicHeader header;
        LayoutFields fields;
        ASSERT_EQ(ReadHeaderFrom(file, header, fields, nullptr), PicHeaderStatus::Read);
        EXPECT_EQ(fields.withAlpha, c.withAlpha);
        EXPECT_EQ(fields.rgbCompressed, c.rgbCompressed);
        EXPECT_EQ(fields.alphaCompressed, c.alphaCompressed);
    }
}

TEST(ReadPicHeader, AcceptsForeignVersionIdAndFields)
{
    Bytes file = MakePicHeaderBytes(1, 1, false, false);
    file[4] = 0x3F;                     // version 1.0-ish
    file[88] = 'X';                     // id
    file[100] = 0x7F, file[101] = 0x01; // fields
    PicHeader header;
    LayoutFields fields;
    EXPECT_EQ(ReadHeaderFrom(file, header, fields, nullptr), PicHeaderStatus::Read);
}

TEST(ReadPicHeader, RejectsWhatIsNotAPicHeader)
{
    const Bytes good = MakePicHeaderBytes(1, 1, true, true);
    Bytes wrongMagic = good;
    wrongMagic[3] = 0x35;
    Bytes shortHeader(good.begin(), good.begin() + 103);
    Bytes noPackets(good.begin(), good.begin() + 104);
    Bytes cutPacket(good.begin(), good.begin() + 106);
    Bytes cutChain(good.begin(), good.begin() + 108); // first packet says another follows
    Bytes endlessChain(good.begin(), good.begin() + 104);
    for (int i = 0; i < 1000; ++i)
        endlessChain.insert(endlessChain.end(), {1, 8, 2, 0xE0});
    const auto withPackets = [&](Bytes packets) {
        Bytes file(good.begin(), good.begin() + 104);
        file.insert(file.end(), packets.begin(), packets.end());
        return file;
    };
    const auto chainOf = [&](int count) {
        Bytes file(good.begin(), good.begin() + 104);
        for (int i = 0; i < count; ++i)
            file.insert(file.end(), {uint8_t(i + 1 < count ? 1 : 0), 8, 0, 0xF0});
        return file;
    };
    struct Case {
        const char* name;
        Bytes bytes;
        PicHeaderStatus status;
    };
    using Status = PicHeaderStatus;
    const Case cases[] = {
        {"empty", {}, Status::HeaderCutShort},
        {"wrong magic", wrongMagic, Status::BadMagic},
        {"the magic's first three bytes", {0x53, 0x80, 0xF6}, Status::HeaderCutShort},
        {"three bytes of another kind", {0x53, 0x80, 0xF7}, Status::BadMagic},
        {"103 bytes", shortHeader, Status::HeaderCutShort},
        {"no packets", noPackets, Status::PacketsCutShort},
        {"cut packet", cutPacket, Status::PacketsCutShort},
        {"cut chain", cutChain, Status::PacketsCutShort},
        {"chain to the end", endlessChain, Status::TooManyPackets},
        {"size 12", withPackets({0, 12, 0, 0xE0}), Status::BadPacket},
        {"size 32", withPackets({1, 16, 0, 0xE0, 0, 32, 0, 0x10}), Status::BadPacket},
        {"type 3", withPackets({1, 8, 0, 0xE0, 0, 8, 3, 0x10}), Status::BadPacket},
        {"no channel in the mask", withPackets({1, 8, 0, 0xE0, 0, 8, 0, 0x0F}), Status::BadPacket},
        {"one packet more than the longest chain read", chainOf(kMaxPicPackets + 1),
         Status::TooManyPackets},
    };
    for (const Case& c : cases) {
        PicHeader header;
        LayoutFields fields;
        EXPECT_EQ(ReadHeaderFrom(c.bytes, header, fields, nullptr, Stream::Pipe), c.status)
            << c.name;
        EXPECT_EQ(fields.withAlpha, -7) << c.name;
        EXPECT_EQ(fields.rgbCompressed, -7) << c.name;
        EXPECT_STRNE(PicHeaderStatusText(c.status), "") << c.name;
    }
    PicHeader header;
    LayoutFields fields;
    EXPECT_EQ(ReadHeaderFrom(chainOf(kMaxPicPackets), header, fields, nullptr),
              PicHeaderStatus::Read);
}

TEST(ReadPicHeader, TellsAFailedReadFromTheFilesEnd)
{
#if defined(_WIN32)
    GTEST_SKIP() << "the Windows C library sets no error for a read of a stream open for writing";
#endif
    // A stream open for writing only: every read fails with an error.
    TempDir dir;
    WriteFileBytes(dir.File("out.pic"), MakePicHeaderBytes(1, 1, false, false));
    FILE* file = std::fopen(dir.File("out.pic").c_str(), "ab");
    ASSERT_NE(file, nullptr);
    PicHeader header;
    PicChannelPacket packet{};
    LayoutFields fields;
    EXPECT_EQ(ReadPicHeader(file, header, packet, fields.withAlpha, fields.rgbCompressed,
                            fields.alphaCompressed),
              PicHeaderStatus::ReadFailed);
    std::fclose(file);
}

TEST(SwapHeaderFields, ConvertsBothWays)
{
    const Bytes file = MakePicHeaderBytes(0x0102, 0x0304, false, false, 1.5f);
    PicHeader header;
    std::memcpy(&header, file.data(), sizeof header);
    SwapHeaderFields(header);
    EXPECT_EQ(header.magic, kPicMagic);
    EXPECT_EQ(header.width, 0x0102);
    EXPECT_EQ(header.height, 0x0304);
    EXPECT_EQ(header.ratio, 1.5f);
    SwapHeaderFields(header);
    EXPECT_EQ(std::memcmp(&header, file.data(), sizeof header), 0);
}

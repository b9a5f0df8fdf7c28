#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "driver/pic_bitmap_io.h"
#include "host/bmm_functions.h"
#include "tests/picture_helpers.h"
#include "tests/progress_recorder.h"
#include "tests/test_support.h"

namespace {

using StoragePtr = std::unique_ptr<BitmapStorage, StorageDeleter>;

Bytes Join(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

BMM_Color_64 Wide(int red, int green, int blue, int alpha = 0)
{
    return {uint16_t(red << 8), uint16_t(green << 8), uint16_t(blue << 8), uint16_t(alpha << 8)};
}

// 2 x 1: a raw colour packet chained to a compressed alpha packet.
Bytes RawColourCompressedAlphaFile()
{
    Bytes file = MakePicHeaderBytes(2, 1, false, false);
    file[104] = 1; // the colour packet is chained
    file.insert(file.end(), {0, 8, 2, 0x10, 1, 2, 3, 4, 5, 6, 0x81, 9});
    return file;
}

// 2 x 1: a compressed colour packet chained to a raw alpha packet.
Bytes CompressedColourRawAlphaFile()
{
    Bytes file = MakePicHeaderBytes(2, 1, false, true);
    file[104] = 1; // the colour packet is chained
    file.insert(file.end(), {0, 8, 0, 0x10, 0x81, 1, 2, 3, 7, 8});
    return file;
}

class LoadImageTest : public ::testing::Test {
protected:
    TempDir dir;
    PicBitmapIO driver;
    BitmapManager manager;
    Bitmap bitmap{&manager};
    BitmapInfo info;
    BMMRES status = 0xEEEE;

    void SetUp() override { BMMClearReportedErrors(); }

    StoragePtr Load(const Bytes& file)
    {
        WriteFileBytes(dir.File("image.pic"), file);
        info.SetName(dir.File("image.pic").c_str());
        return StoragePtr(driver.LoadImage(&info, &bitmap, &status));
    }
};

struct LoadCase {
    const char* name;
    Bytes file;
    int width;
    int height;
    Pixels expected; // row-major; rows the file does not fill stay zero
};

TEST_F(LoadImageTest, LoadsEveryLayout)
{
    const BMM_Color_64 zero{};
    const BMM_Color_64 white = Wide(255, 255, 255);
    const LoadCase cases[] = {
        {"1x1 raw rgb",
         Join(MakePicHeaderBytes(1, 1, false, false), {10, 20, 30}),
         1,
         1,
         {{0x0A00, 0x1400, 0x1E00, 0}}},
        {"1x1 raw rgba, alpha 255",
         Join(MakePicHeaderBytes(1, 1, true, false), {1, 2, 3, 255}),
         1,
         1,
         {Wide(1, 2, 3, 255)}},
        {"2x2 raw rgba: colour row then alpha row",
         Join(MakePicHeaderBytes(2, 2, true, false),
              {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
               13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24}),
         2,
         2,
         {Wide(1, 2, 3, 7), Wide(4, 5, 6, 8), Wide(9, 10, 11, 15), Wide(12, 13, 14, 16)}},
        {"3x1 compressed rgb",
         Join(MakePicHeaderBytes(3, 1, false, true),
              {0x81, 0x10, 0x20, 0x30, 0x00, 0x11, 0x21, 0x31}),
         3,
         1,
         {Wide(0x10, 0x20, 0x30), Wide(0x10, 0x20, 0x30), Wide(0x11, 0x21, 0x31)}},
        {"2x2 compressed rgba",
         Join(MakePicHeaderBytes(2, 2, true, true),
              {0x81, 1, 2, 3, 0x81, 4, 0x01, 5, 6, 7, 8, 9, 10, 0x80, 0x00, 0x02, 11}),
         2,
         2,
         {Wide(1, 2, 3, 4), Wide(1, 2, 3, 4), Wide(5, 6, 7, 11), Wide(8, 9, 10, 11)}},
        {"raw colour with compressed alpha",
         RawColourCompressedAlphaFile(),
         2,
         1,
         {Wide(1, 2, 3, 9), Wide(4, 5, 6, 9)}},
        {"compressed colour with raw alpha",
         CompressedColourRawAlphaFile(),
         2,
         1,
         {Wide(1, 2, 3, 7), Wide(1, 2, 3, 8)}},
        {"width 0, compressed: each row one long run of 0",
         Join(MakePicHeaderBytes(0, 2, false, true), {0x80, 0, 0, 5, 0x80, 0, 0, 6}),
         0,
         2,
         {}},
        {"raw cut short: missing bytes read as 255",
         Join(MakePicHeaderBytes(2, 2, false, false), {1, 2, 3, 4, 5, 6, 7}),
         2,
         2,
         {Wide(1, 2, 3), Wide(4, 5, 6), Wide(7, 255, 255), white}},
        {"compressed cut short: rows before the break",
         Join(MakePicHeaderBytes(2, 3, false, true), {0x81, 1, 2, 3, 0x00, 4}),
         2,
         3,
         {Wide(1, 2, 3), Wide(1, 2, 3), zero, zero, zero, zero}},
        {"compressed row reaching past the width",
         Join(MakePicHeaderBytes(2, 2, false, true), {0x81, 1, 2, 3, 0x82, 4, 5, 6}),
         2,
         2,
         {Wide(1, 2, 3), Wide(1, 2, 3), zero, zero}},
        {"compressed alpha cut short",
         Join(MakePicHeaderBytes(1, 2, true, true), {0x00, 1, 2, 3, 0x00, 4, 0x00, 5, 6, 7}),
         1,
         2,
         {Wide(1, 2, 3, 4), zero}},
        {"height 0", MakePicHeaderBytes(4, 0, false, false), 4, 0, {}},
        {"height with its top bit set reads every row",
         Join(MakePicHeaderBytes(1, 0x8000, false, false), {1, 2, 3}), 1, 0x8000,
         [&] {
             Pixels rows(0x8000, white);
             rows[0] = Wide(1, 2, 3);
             return rows;
         }()},
    };
    for (const LoadCase& item : cases) {
        SCOPED_TRACE(item.name);
        StoragePtr storage = Load(item.file);
        ASSERT_NE(storage, nullptr);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(storage->Width(), item.width);
        EXPECT_EQ(storage->Height(), item.height);
        EXPECT_EQ(ReadStorage(storage.get()), item.expected);
        EXPECT_EQ(BMMReportedErrorCount(), 0);
    }
}

TEST_F(LoadImageTest, FillsTheInfoAndTheStoragesOwnInfo)
{
    info.SetFlags(0x40);
    StoragePtr storage = Load(Join(MakePicHeaderBytes(1, 1, true, false, 1.5f), {1, 2, 3, 4}));
    ASSERT_NE(storage, nullptr);
    EXPECT_EQ(info.Flags(), 0x40u | kFlagHasAlpha);
    EXPECT_EQ(info.Type(), kImageType32WithAlpha);
    EXPECT_EQ(info.Aspect(), 1.5f);
    EXPECT_STREQ(storage->bi.Name(), info.Name());
    EXPECT_EQ(storage->bi.Flags(), info.Flags());
    EXPECT_EQ(storage->bi.Type(), kImageType32WithAlpha);
    EXPECT_EQ(storage->bi.Gamma(), 1.0f);

    // Without alpha the flags are left as they were, the alpha bit included.
    BitmapInfo second;
    second.SetFlags(kFlagHasAlpha | 0x10);
    WriteFileBytes(dir.File("rgb.pic"), Join(MakePicHeaderBytes(1, 1, false, false), {1, 2, 3}));
    second.SetName(dir.File("rgb.pic").c_str());
    StoragePtr rgb(driver.LoadImage(&second, &bitmap, &status));
    ASSERT_NE(rgb, nullptr);
    EXPECT_EQ(second.Flags(), kFlagHasAlpha | 0x10u);
    EXPECT_EQ(second.Type(), kImageType24);
}

struct FailureCase {
    const char* name;
    Bytes file; // empty: no file at all
    BMMRES expected;
};

TEST_F(LoadImageTest, FailuresGiveTheirCodeAndNoStorage)
{
    Bytes shortHeader = MakePicHeaderBytes(1, 1, false, false);
    shortHeader.resize(103);
    Bytes wrongMagic = Join(MakePicHeaderBytes(1, 1, false, false), {1, 2, 3});
    wrongMagic[0] = 0x54;
    Bytes packetType3 = MakePicHeaderBytes(1, 1, false, false);
    packetType3[106] = 3;
    Bytes chainCutShort = MakePicHeaderBytes(1, 1, true, false);
    chainCutShort.resize(110);
    const FailureCase cases[] = {
        {"no file", {}, kResultSystemError},
        {"shorter than a header", shortHeader, kResultBadHeader},
        {"wrong magic", wrongMagic, kResultBadHeader},
        {"packet chain cut short", chainCutShort, kResultBadHeader},
        {"a packet of type 3", Join(packetType3, {1, 2, 3}), kResultBadHeader},
        {"65535 x 65535, more pixels than a storage holds",
         MakePicHeaderBytes(0xFFFF, 0xFFFF, false, false), kResultNoMemory},
        {"more pixels than a storage holds", MakePicHeaderBytes(32767, 32767, false, false),
         kResultNoMemory},
    };
    for (const FailureCase& item : cases) {
        SCOPED_TRACE(item.name);
        BMMClearReportedErrors();
        std::remove(dir.File("image.pic").c_str());
        StoragePtr storage;
        if (item.file.empty()) {
            info.SetName(dir.File("image.pic").c_str());
            storage.reset(driver.LoadImage(&info, &bitmap, &status));
        } else {
            storage = Load(item.file);
        }
        EXPECT_EQ(storage, nullptr);
        EXPECT_EQ(status, item.expected);
        ASSERT_EQ(BMMReportedErrorCount(), 1);
        BMMErrorRecord record;
        BMMGetReportedError(0, &record);
        EXPECT_EQ(record.code, item.expected);
        EXPECT_STREQ(record.file, info.Name());
    }
}

TEST_F(LoadImageTest, ADriverOpenForWritingRefusesAndLeavesTheFileAlone)
{
    const Bytes file = Join(MakePicHeaderBytes(1, 1, false, false, 2.0f), {1, 2, 3});
    BitmapInfo output;
    output.SetName(dir.File("out.pic").c_str());
    ASSERT_EQ(driver.OpenForWrite(&output, &bitmap), 0);
    const PicOptions before = driver.options;
    info.SetWidth(77);

    StoragePtr storage = Load(file);
    EXPECT_EQ(storage, nullptr);
    EXPECT_EQ(status, kResultWrongMode);
    EXPECT_EQ(ReadFileBytes(dir.File("image.pic")), file);
    EXPECT_EQ(info.Width(), 77); // the header was never read
    EXPECT_EQ(std::memcmp(&before, &driver.options, sizeof before), 0);
}

TEST_F(LoadImageTest, ReportsProgressAfterEachStoredRow)
{
    ProgressRecorder recorder;
    info.SetUpdateWindow(recorder.Window());
    StoragePtr storage = Load(Join(MakePicHeaderBytes(1, 3, false, false), Bytes(9, 7)));
    ASSERT_NE(storage, nullptr);
    const std::vector<std::pair<int, int>> rows = {{0, 2}, {1, 2}, {2, 2}};
    EXPECT_EQ(recorder.Messages(), rows);

    // A compressed file cut short after its first row reports that row only.
    ProgressRecorder cutShort;
    info.SetUpdateWindow(cutShort.Window());
    storage = Load(Join(MakePicHeaderBytes(1, 3, false, true), {0x00, 1, 2, 3}));
    ASSERT_NE(storage, nullptr);
    const std::vector<std::pair<int, int>> firstRow = {{0, 2}};
    EXPECT_EQ(cutShort.Messages(), firstRow);
}

// A load does all its work on the caller's thread, however large the frame.
TEST_F(LoadImageTest, MakesNoThread)
{
    const int width = 2000, height = 200;
    const int before = ProcessThreadCount();
    int most = 0;
    ProgressRecorder recorder;
    recorder.onProgress = [&](int) { most = std::max(most, ProcessThreadCount()); };
    info.SetUpdateWindow(recorder.Window());
    StoragePtr storage = Load(
        Join(MakePicHeaderBytes(width, height, true, false), Bytes(size_t(width) * height * 4, 7)));
    ASSERT_NE(storage, nullptr);
    EXPECT_EQ(most, before);
}

TEST_F(LoadImageTest, ARefusedRowFailsTheLoadAndReleasesTheStorage)
{
    // The host widens its record after the first row: the storage, sized
    // for 2 pixels, cannot take a row that wide, and the driver's row holds 2.
    ProgressRecorder recorder;
    recorder.onProgress = [this](int) { info.SetWidth(3); };
    info.SetUpdateWindow(recorder.Window());
    StoragePtr storage = Load(Join(MakePicHeaderBytes(2, 3, false, false), Bytes(18, 7)));
    EXPECT_EQ(storage, nullptr);
    EXPECT_EQ(status, kResultSystemError);
    ASSERT_EQ(BMMReportedErrorCount(), 1);
    BMMErrorRecord record{};
    ASSERT_EQ(BMMGetReportedError(0, &record), 1);
    EXPECT_STREQ(record.message, "storage refused a row");
    const std::vector<std::pair<int, int>> firstRow = {{0, 2}};
    EXPECT_EQ(recorder.Messages(), firstRow);
}

TEST_F(LoadImageTest, RowsCrossingTheReadBufferLoadWhole)
{
    // 300 x 100 RGBA raw is 120000 bytes of rows, more than one buffer of reads.
    const int width = 300;
    const int height = 100;
    const Pixels picture = HighBytesOnly(MakeNoisePicture(width, height, 5), true);
    Bytes file = MakePicHeaderBytes(width, height, true, false);
    for (int y = 0; y < height; ++y) {
        const BMM_Color_64* row = picture.data() + size_t(y) * width;
        for (int x = 0; x < width; ++x)
            file.insert(file.end(),
                        {uint8_t(row[x].r >> 8), uint8_t(row[x].g >> 8), uint8_t(row[x].b >> 8)});
        for (int x = 0; x < width; ++x)
            file.push_back(uint8_t(row[x].a >> 8));
    }
    StoragePtr storage = Load(file);
    ASSERT_NE(storage, nullptr);
    EXPECT_EQ(ReadStorage(storage.get()), picture);
}

} // namespace

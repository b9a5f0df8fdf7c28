#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "driver/pic_bitmap_io.h"
#include "host/bmm_functions.h"
#include "tests/test_support.h"

TEST(PicBitmapIO, AnswersItsIdentity)
{
    PicBitmapIO driver;
    EXPECT_EQ(driver.ExtensionCount(), 1);
    EXPECT_STREQ(driver.Extension(0), "pic");
    EXPECT_STREQ(driver.Extension(1), "");
    EXPECT_STREQ(driver.Extension(-1), "");
    EXPECT_STREQ(driver.LongDescription(), "Softimage PIC File");
    EXPECT_STREQ(driver.ShortDescription(), "PIC");
    EXPECT_NE(std::strlen(driver.Author()), 0u);
    EXPECT_NE(std::strlen(driver.CopyrightNotice()), 0u);
    EXPECT_EQ(driver.VersionNumber(), 100u);
    EXPECT_EQ(driver.Capabilities(), 0x40000207);
    EXPECT_EQ(driver.CloseOutput(0), 1);
    EXPECT_EQ(driver.OpenMode(), kOpenModeNone);
}

TEST(PicOptions, DefaultsAreStoredAsTheirBytes)
{
    PicBitmapIO driver;
    EXPECT_EQ(driver.OptionsSize(), 96);
    uint8_t block[96];
    std::memset(block, 0xEE, sizeof block);
    ASSERT_EQ(driver.SaveOptions(block), 1);
    const uint8_t head[16] = {0xCD, 0xCC, 0x6C, 0x40, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(std::memcmp(block, head, 16), 0);
    for (int i = 16; i < 96; ++i)
        EXPECT_EQ(block[i], 0) << i;
    EXPECT_EQ(driver.SaveOptions(nullptr), 0);
}

TEST(PicOptions, RoundTripBetweenDrivers)
{
    PicBitmapIO first;
    first.options.withAlpha = 0;
    first.options.rgbCompressed = 7;
    first.options.alphaCompressed = 0;
    std::memset(first.options.comment, 'c', sizeof first.options.comment); // no zero byte
    uint8_t block[96];
    ASSERT_EQ(first.SaveOptions(block), 1);
    PicBitmapIO second;
    ASSERT_EQ(second.LoadOptions(block), 1);
    EXPECT_EQ(std::memcmp(&first.options, &second.options, 96), 0);
}

TEST(PicOptions, RefusesZeroNullAndForeignBlocks)
{
    PicBitmapIO driver;
    PicOptions before = driver.options;
    uint8_t zero[96] = {};
    EXPECT_EQ(driver.LoadOptions(zero), 0);
    EXPECT_EQ(driver.LoadOptions(nullptr), 0);
    uint8_t bigEndianSignature[96] = {0x40, 0x6C, 0xCC, 0xCD, 0, 0, 0, 0};
    EXPECT_EQ(driver.LoadOptions(bigEndianSignature), 0);
    EXPECT_EQ(std::memcmp(&before, &driver.options, 96), 0);
}

class ReadImageInfoTest : public ::testing::Test {
protected:
    TempDir dir;
    PicBitmapIO driver;
    BitmapInfo info;

    BMMRES ReadFile(const std::string& name, const Bytes& bytes)
    {
        WriteFileBytes(dir.File(name), bytes);
        info.SetName(dir.File(name).c_str());
        return driver.ReadImageInfo(&info);
    }
};

TEST_F(ReadImageInfoTest, FillsTheInfoOfAnRgbaFile)
{
    info.SetFlags(0x40);
    ASSERT_EQ(ReadFile("rgba.pic", MakePicHeaderBytes(640, 480, true, true, 4.0f / 3.0f)), 0);
    EXPECT_EQ(info.Width(), 640);
    EXPECT_EQ(info.Height(), 480);
    EXPECT_EQ(info.Aspect(), 4.0f / 3.0f);
    EXPECT_EQ(info.Gamma(), 1.0f);
    EXPECT_EQ(info.FirstFrame(), 0);
    EXPECT_EQ(info.LastFrame(), 0);
    EXPECT_EQ(info.Type(), kImageType32WithAlpha);
    EXPECT_EQ(info.Flags(), 0x40u);
}

TEST_F(ReadImageInfoTest, AnRawRgbFileRewritesTheSavedOptions)
{
    ASSERT_EQ(ReadFile("rgb.pic", MakePicHeaderBytes(2, 1, false, false)), 0);
    EXPECT_EQ(info.Type(), kImageType24);
    uint8_t block[96];
    driver.SaveOptions(block);
    EXPECT_EQ(block[4], 0);  // withAlpha
    EXPECT_EQ(block[8], 0);  // rgbCompressed
    EXPECT_EQ(block[12], 1); // alphaCompressed: no alpha packet, unchanged
}

TEST_F(ReadImageInfoTest, MissingFileLeavesTheOptionsAlone)
{
    const PicOptions before = driver.options;
    BMMClearReportedErrors();
    info.SetName(dir.File("missing.pic").c_str());
    EXPECT_EQ(driver.ReadImageInfo(&info), kResultSystemError);
    EXPECT_EQ(std::memcmp(&before, &driver.options, 96), 0);
    EXPECT_EQ(BMMReportedErrorCount(), 1);
}

TEST_F(ReadImageInfoTest, NotPicAndShortFilesAreBadHeaders)
{
    EXPECT_EQ(ReadFile("text.pic", Bytes(200, 'x')), kResultBadHeader);
    Bytes shortHeader = MakePicHeaderBytes(1, 1, false, false);
    shortHeader.resize(100);
    EXPECT_EQ(ReadFile("short.pic", shortHeader), kResultBadHeader);
    EXPECT_EQ(ReadFile("empty.pic", {}), kResultBadHeader);
}

TEST_F(ReadImageInfoTest, NegativeDimensionsReachTheHostAsSixteenBits)
{
    ASSERT_EQ(ReadFile("big.pic", MakePicHeaderBytes(0x8000, 0xFFFF, false, false)), 0);
    EXPECT_EQ(info.Width(), 0x8000);
    EXPECT_EQ(info.Height(), 0xFFFF);
    EXPECT_EQ(driver.header.width, -32768);
}

TEST_F(ReadImageInfoTest, ANameFillingItsWholeFieldIsRefused)
{
    std::memset(info.NameBuffer(), 'n', kMaxPathLength); // no terminator
    BMMClearReportedErrors();
    EXPECT_EQ(driver.ReadImageInfo(&info), kResultSystemError);
    BitmapManager manager;
    Bitmap bitmap(&manager);
    BMMRES status = 0;
    EXPECT_EQ(driver.LoadImage(&info, &bitmap, &status), nullptr);
    EXPECT_EQ(status, kResultSystemError);
    ASSERT_EQ(BMMReportedErrorCount(), 2);
    BMMErrorRecord record;
    ASSERT_EQ(BMMGetReportedError(1, &record), 1);
    EXPECT_EQ(std::strlen(record.file), size_t(kMaxPathLength - 1));
}

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/bmm_functions.h"
#include "host/core.h"
#include "host/window_message.h"

namespace {

BitmapInfo InfoOfSize(int width, int height)
{
    BitmapInfo info;
    info.SetWidth(uint16_t(width));
    info.SetHeight(uint16_t(height));
    info.SetAspect(1.25f);
    return info;
}

// A driver with nothing of its own: reports go through the base class.
struct RecordingDriver : BitmapIO {
    void* Destroy(unsigned int) override { return this; }
    int ExtensionCount() override { return 0; }
    const char* Extension(int) override { return ""; }
    const char* LongDescription() override { return ""; }
    const char* ShortDescription() override { return ""; }
    const char* Author() override { return ""; }
    const char* CopyrightNotice() override { return ""; }
    unsigned VersionNumber() override { return 0; }
    int Capabilities() override { return 0; }
    int ShowAbout(HostWindow) override { return 0; }
    int ShowOptions(HostWindow, int) override { return 0; }
    int OptionsSize() override { return 0; }
    int LoadOptions(const void*) override { return 0; }
    int SaveOptions(void*) override { return 0; }
    BMMRES ShowImageInfo(HostWindow, BitmapInfo*, const char*) override { return 0; }
    BMMRES ReadImageInfo(BitmapInfo*) override { return 0; }
    BitmapStorage* LoadImage(BitmapInfo*, Bitmap*, BMMRES*) override { return nullptr; }
    BMMRES OpenForWrite(BitmapInfo*, Bitmap*) override { return 0; }
    BMMRES WriteFrame(int) override { return 0; }
    int CloseOutput(int) override { return 0; }
};

} // namespace

TEST(BitmapStorage, StartsZeroedAndKeepsRowsApart)
{
    BitmapManager manager;
    BitmapStorage* storage = BMMCreateStorage(&manager, kStorage64);
    ASSERT_NE(storage, nullptr);
    const BitmapInfo info = InfoOfSize(3, 2);
    ASSERT_NE(storage->AllocatePixels(&info, &manager, 1), 0);
    EXPECT_EQ(storage->bi.Width(), 3);
    EXPECT_EQ(storage->bi.Aspect(), 1.25f);

    BMM_Color_64 row[3];
    std::memset(row, 0xAA, sizeof row);
    ASSERT_EQ(storage->FetchRow(0, 1, 3, row), 1);
    for (const auto& pixel : row)
        EXPECT_EQ(pixel.r | pixel.g | pixel.b | pixel.a, 0);

    const BMM_Color_64 written[2] = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    ASSERT_EQ(storage->StoreRow(1, 0, 2, written), 1);
    ASSERT_EQ(storage->FetchRow(0, 0, 3, row), 1);
    EXPECT_EQ(row[0].r, 0);
    EXPECT_EQ(row[1].a, 4);
    EXPECT_EQ(row[2].b, 7);
    ASSERT_EQ(storage->FetchRow(0, 1, 3, row), 1);
    EXPECT_EQ(row[1].a, 0);
    storage->Release(1);
}

TEST(BitmapStorage, RefusesRowsAndColumnsOutsideIt)
{
    BitmapManager manager;
    BitmapStorage* storage = BMMCreateStorage(&manager, kStorage64);
    const BitmapInfo info = InfoOfSize(4, 2);
    ASSERT_NE(storage->AllocatePixels(&info, &manager, 1), 0);
    BMM_Color_64 row[8] = {};
    const struct {
        int x, y, count;
    } outside[] = {{0, 2, 4}, {0, -1, 4}, {1, 0, 4},         {-1, 0, 2},
                   {0, 0, 5}, {0, 0, -1}, {0x7FFFFFFF, 0, 2}};
    for (const auto& span : outside) {
        EXPECT_EQ(storage->StoreRow(span.x, span.y, span.count, row), 0) << span.x << span.y;
        EXPECT_EQ(storage->FetchRow(span.x, span.y, span.count, row), 0) << span.x << span.y;
    }
    EXPECT_EQ(storage->StoreRow(0, 1, 4, row), 1);
    EXPECT_EQ(storage->StoreRow(4, 1, 0, row), 1);
    storage->Release(1);
}

TEST(BitmapStorage, LargeStoragesStartZeroedToTheirLastPixel)
{
    // Large storages come from a mapping of their own; reallocating one must
    // still give zeros everywhere, and the first and last pixels are usable.
    BitmapManager manager;
    BitmapStorage* storage = BMMCreateStorage(&manager, kStorage64);
    const BitmapInfo info = InfoOfSize(4000, 600); // 19.2 MB of pixels
    std::vector<BMM_Color_64> row(4000, BMM_Color_64{0xFFFF, 1, 2, 3});
    for (int round = 0; round < 2; ++round) {
        ASSERT_NE(storage->AllocatePixels(&info, &manager, 1), 0);
        for (int y : {0, 299, 599}) {
            std::vector<BMM_Color_64> fetched(4000, BMM_Color_64{9, 9, 9, 9});
            ASSERT_EQ(storage->FetchRow(0, y, 4000, fetched.data()), 1);
            for (const auto& pixel : fetched)
                ASSERT_EQ(pixel.r | pixel.g | pixel.b | pixel.a, 0) << "row " << y;
            ASSERT_EQ(storage->StoreRow(0, y, 4000, row.data()), 1);
        }
    }
    storage->Release(0);
    EXPECT_EQ(storage->FetchRow(0, 0, 1, row.data()), 0);
    storage->Release(1);
}

TEST(BitmapStorage, RefusesAbsurdSizesAndUnknownKinds)
{
    BitmapManager manager;
    EXPECT_EQ(BMMCreateStorage(&manager, 8), nullptr);
    BitmapStorage* storage = BMMCreateStorage(&manager, kStorage64);
    const BitmapInfo huge = InfoOfSize(65535, 65535);
    EXPECT_EQ(storage->AllocatePixels(&huge, &manager, 1), 0);
    const BitmapInfo empty = InfoOfSize(0, 0);
    EXPECT_NE(storage->AllocatePixels(&empty, &manager, 1), 0);
    storage->Release(1);
}

TEST(BMMCreateNumberedFilename, PutsFourDigitsBeforeTheExtension)
{
    char out[kMaxPathLength];
    const std::pair<std::pair<const char*, int>, const char*> cases[] = {
        {{"shot.pic", 7}, "shot0007.pic"},        {{"shot.pic", 0}, "shot0000.pic"},
        {{"shot.pic", 123456}, "shot123456.pic"}, {{"take", 12}, "take0012"},
        {{"dir.v2/take", 3}, "dir.v2/take0003"},  {{"a.b.pic", 1}, "a.b0001.pic"},
    };
    for (const auto& [input, expected] : cases) {
        ASSERT_NE(BMMCreateNumberedFilename(input.first, input.second, out), 0) << expected;
        EXPECT_STREQ(out, expected);
    }
}

TEST(BMMCreateNumberedFilename, FailsForNegativeFramesAndNamesTooLong)
{
    char out[kMaxPathLength];
    EXPECT_EQ(BMMCreateNumberedFilename("shot.pic", -1, out), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(BMMCreateNumberedFilename("shot.pic", kSingleFrame, out), 0);
    EXPECT_EQ(BMMCreateNumberedFilename(nullptr, 1, out), 0);
    const std::string fits = std::string(251, 'n') + ".pic"; // 255 + 4 digits = 259
    EXPECT_NE(BMMCreateNumberedFilename(fits.c_str(), 1, out), 0);
    EXPECT_EQ(std::strlen(out), 259u);
    const std::string tooLong = std::string(252, 'n') + ".pic"; // would need 260
    EXPECT_EQ(BMMCreateNumberedFilename(tooLong.c_str(), 1, out), 0);
}

// A name field filled to its end holds no terminator: the host's functions
// read no further than the field. The names sit at the very end of their
// heap blocks so that a read past them is caught by the sanitizer build.
TEST(BMMCreateNumberedFilename, ReadsNoFurtherThanTheNameField)
{
    std::unique_ptr<char[]> full(new char[kMaxPathLength]);
    std::memset(full.get(), 'n', kMaxPathLength);
    char out[kMaxPathLength];
    EXPECT_EQ(BMMCreateNumberedFilename(full.get(), 1, out), 0);
    EXPECT_STREQ(out, "");
}

TEST(BitmapInfo, AFullNameFieldIsReadNoFurther)
{
    // Every byte after the name nonzero, so that reading on for a zero byte
    // runs off the end of the record.
    std::unique_ptr<BitmapInfo> info(new BitmapInfo);
    std::memset(info->NameBuffer(), 'n', kMaxPathLength);
    info->SetUpdateWindow(HostWindow(~uintptr_t(0) / 0xFF * 0x6E));
    info->SetWidth(0x6E6E);
    info->SetHeight(0x6E6E);
    float noZeroByte;
    const uint32_t bits = 0x6E6E6E6E;
    std::memcpy(&noZeroByte, &bits, sizeof noZeroByte);
    info->SetAspect(noZeroByte);
    info->SetGamma(noZeroByte);
    info->SetFirstFrame(0x6E6E6E6E);
    info->SetLastFrame(0x6E6E6E6E);
    info->SetFlags(0x6E6E6E6E);
    info->SetType(0x6E6E6E6E);

    EXPECT_EQ(BMMGetFullFilename(info.get()), 0);
    EXPECT_EQ(info->Name()[kMaxPathLength - 1], 'n');

    BMMClearReportedErrors();
    RecordingDriver driver;
    EXPECT_EQ(driver.ProcessImageIOError(info.get(), kResultBadHeader), kResultBadHeader);
    BMMErrorRecord record;
    ASSERT_EQ(BMMGetReportedError(0, &record), 1);
    EXPECT_EQ(std::string(record.file), std::string(size_t(kMaxPathLength - 1), 'n'));
}

TEST(BitmapInfo, CopyKeepsOrTakesTheUpdateWindow)
{
    int windowA = 0, windowB = 0;
    BitmapInfo from = InfoOfSize(10, 20);
    from.SetName("frame.pic");
    from.SetUpdateWindow(HostWindow(&windowA));
    from.SetFlags(kFlagHasAlpha);
    BitmapInfo to;
    to.SetUpdateWindow(HostWindow(&windowB));
    to.CopyImageInfo(&from);
    EXPECT_STREQ(to.Name(), "frame.pic");
    EXPECT_EQ(to.Width(), 10);
    EXPECT_EQ(to.Flags(), kFlagHasAlpha);
    EXPECT_EQ(to.GetUpdateWindow(), HostWindow(&windowB));
    to.Copy(&from);
    EXPECT_EQ(to.GetUpdateWindow(), HostWindow(&windowA));
    to.SetName(std::string(400, 'x').c_str());
    EXPECT_EQ(std::strlen(to.Name()), size_t(kMaxPathLength - 1));
}

TEST(BMMGetFullFilename, MakesARelativeNameFull)
{
    BitmapInfo info;
    info.SetName("relative.pic");
    ASSERT_EQ(BMMGetFullFilename(&info), 1);
    const std::string full = info.Name();
    EXPECT_GT(full.size(), std::string("relative.pic").size());
    EXPECT_EQ(full.substr(full.size() - 13),
              std::string(1, full[full.size() - 13]) + "relative.pic");
}

TEST(ProcessImageIOError, RecordsEachReport)
{
    RecordingDriver probe;
    EXPECT_EQ(probe.OpenMode(), kOpenModeNone);
    BMMClearReportedErrors();
    BitmapInfo info;
    info.SetName("missing.pic");
    EXPECT_EQ(probe.ProcessImageIOError(&info, kResultBadHeader), kResultBadHeader);
    // A null message shows errno's reason, or says that there is none.
    errno = ENOSPC;
    EXPECT_EQ(probe.ProcessImageIOError(&info, static_cast<const char*>(nullptr)),
              kResultSystemError);
    errno = 0;
    EXPECT_EQ(probe.ProcessImageIOError(&info, static_cast<const char*>(nullptr)),
              kResultSystemError);
    EXPECT_EQ(probe.ProcessImageIOError(&info, "storage refused a row"), kResultSystemError);
    ASSERT_EQ(BMMReportedErrorCount(), 4);
    BMMErrorRecord record;
    ASSERT_EQ(BMMGetReportedError(0, &record), 1);
    EXPECT_EQ(record.code, kResultBadHeader);
    EXPECT_STREQ(record.file, "missing.pic");
    const char* messages[] = {std::strerror(ENOSPC), "system error, no reason given",
                              "storage refused a row"};
    for (int index = 1; index < 4; ++index) {
        ASSERT_EQ(BMMGetReportedError(index, &record), 1);
        EXPECT_STREQ(record.message, messages[index - 1]);
    }
    EXPECT_EQ(BMMGetReportedError(4, &record), 0);
}

TEST(ProcessImageIOError, KeepsTheNewestReportsInOrder)
{
    RecordingDriver probe;
    BMMClearReportedErrors();
    BitmapInfo info;
    for (int code = 1; code <= 300; ++code)
        probe.ProcessImageIOError(&info, code);
    ASSERT_EQ(BMMReportedErrorCount(), 256);
    BMMErrorRecord record;
    ASSERT_EQ(BMMGetReportedError(0, &record), 1);
    EXPECT_EQ(record.code, 45);
    ASSERT_EQ(BMMGetReportedError(255, &record), 1);
    EXPECT_EQ(record.code, 300);
    EXPECT_EQ(BMMGetReportedError(256, &record), 0);
    BMMClearReportedErrors();
    EXPECT_EQ(BMMReportedErrorCount(), 0);
    probe.ProcessImageIOError(&info, 7);
    ASSERT_EQ(BMMGetReportedError(0, &record), 1);
    EXPECT_EQ(record.code, 7);
}

#if !defined(_WIN32)
TEST(HostSendMessage, DeliversToTheRegisteredWindow)
{
    struct Seen {
        unsigned message = 0;
        uintptr_t first = 0;
        intptr_t second = 0;
    } seen;
    int window = 0;
    HostRegisterWindow(
        &window,
        [](void* context, unsigned message, uintptr_t first, intptr_t second) {
            auto* s = static_cast<Seen*>(context);
            *s = Seen{message, first, second};
            return intptr_t(1);
        },
        &seen);
    SendProgress(&window, 25, 100);
    EXPECT_EQ(seen.message, kProgressMessage);
    EXPECT_EQ(seen.first, 25u);
    EXPECT_EQ(seen.second, 100);
    HostUnregisterWindow(&window);
    EXPECT_EQ(HostSendMessage(&window, kProgressMessage, 1, 2), 0);
}
#endif

TEST(InitCustomControls, RemembersTheInstance)
{
    int module = 0;
    const int before = CoreCustomControlsCalls();
    InitCustomControls(HostInstance(&module));
    EXPECT_EQ(CoreCustomControlsInstance(), HostInstance(&module));
    EXPECT_EQ(CoreCustomControlsCalls(), before + 1);
}

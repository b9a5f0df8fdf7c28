#include "tools/pictool/convert/driver_codec.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <memory>

#include "engine/convert/failure_text.h"
#include "engine/formats/image_output.h"
#include "host/bitmap.h"
#include "host/bmm_functions.h"
#include "output/interrupts.h"
#include "tools/pictool/support/short_name.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A frame in a host storage, which drivers load into and write from.
class StorageFrame : public Frame {
public:
    StorageFrame() : bitmap(&manager) {}
    uint32_t Width() const override { return uint32_t(bitmap.Storage()->Width()); }
    uint32_t Height() const override { return uint32_t(bitmap.Storage()->Height()); }
    bool StoreRow(uint32_t y, const uint16_t* channels, std::string& error) override
    {
        row.resize(Width());
        for (BMM_Color_64& pixel : row) {
            pixel = BMM_Color_64{channels[0], channels[1], channels[2], channels[3]};
            channels += 4;
        }
        return Refused(bitmap.Storage()->StoreRow(0, int(y), int(row.size()), row.data()), y,
                       error);
    }
    bool FetchRow(uint32_t y, uint16_t* channels, std::string& error) override
    {
        row.resize(Width());
        if (!Refused(bitmap.Storage()->FetchRow(0, int(y), int(row.size()), row.data()), y, error))
            return false;
        for (const BMM_Color_64& pixel : row) {
            channels[0] = pixel.r;
            channels[1] = pixel.g;
            channels[2] = pixel.b;
            channels[3] = pixel.a;
            channels += 4;
        }
        return true;
    }

    BitmapManager manager;
    Bitmap bitmap;

private:
    static bool Refused(int done, uint32_t y, std::string& error)
    {
        if (done == 1)
            return true;
        error = "the storage refused row " + std::to_string(y);
        return false;
    }
    std::vector<BMM_Color_64> row;
};

// The host's message for the newest error it recorded about `file`, lower
// case; empty when there is none. Other threads report too, so the record
// is found by its file rather than taken as the last.
std::string RecordedMessage(const std::string& file)
{
    const std::string name = std::filesystem::path(file).filename().string();
    BMMErrorRecord record{};
    for (int index = BMMReportedErrorCount() - 1; index >= 0; --index) {
        if (!BMMGetReportedError(index, &record))
            continue;
        record.file[sizeof record.file - 1] = '\0';
        record.message[sizeof record.message - 1] = '\0';
        const std::string recorded = record.file;
        if (recorded.size() >= name.size() &&
            recorded.compare(recorded.size() - name.size(), name.size(), name) == 0) {
            std::string message = record.message;
            if (!message.empty())
                message[0] = char(std::tolower(static_cast<unsigned char>(message[0])));
            return message;
        }
    }
    return "";
}

} // namespace

std::string DriverInputName(PicInput& input, std::unique_ptr<ShortName>& shortName,
                            std::unique_ptr<StagingFile>& staged, std::string& error)
{
    const std::string& memory = input.bytes.MemoryName();
    if (!memory.empty())
        return memory;
    if (input.bytes.IsStream()) {
        staged = std::make_unique<StagingFile>(".pic");
        return staged->Write(input.bytes.Data(), input.bytes.Size(), error) ? staged->Path() : "";
    }
    shortName = std::make_unique<ShortName>(input.bytes.Path());
    if (shortName->Fits())
        return shortName->Name();
    error = shortName->Why();
    return "";
}

bool SaveDriverOptions(BitmapIO& driver, PicOptions& options)
{
    if (driver.OptionsSize() != kPicOptionsSize)
        return false;
    return driver.SaveOptions(&options) == 1;
}

std::string DriverResultText(BMMRES result, const std::string& file, const std::string& given)
{
    switch (result) {
    case kResultNoMemory:
        return "out of memory";
    case kResultNoStorage:
        return "the host made no storage";
    case kResultNoNumberedName:
        return "no numbered file name can be formed from this name";
    case kResultWrongMode:
        return "the driver was not open for writing";
    default:
        break;
    }
    std::string message = RecordedMessage(file);
    if (message.empty() && !given.empty())
        message = RecordedMessage(given);
    return message.empty() ? "failed (result " + std::to_string(result) + ")" : message;
}

bool DriverPicCodec::Load(PicInput& input, const std::string& label, uint64_t, FrameProgress&,
                          PicLoaded& loaded, FrameOutcome& failure)
{
    // pic/'s reading of the bytes in hand: how far the rows are whole.
    loaded.facts = ReadPicImageMemory(input.bytes.Data(), input.bytes.Size(), false).facts;
    std::unique_ptr<ShortName> shortName;
    std::unique_ptr<StagingFile> staged;
    std::string error;
    const std::string name = DriverInputName(input, shortName, staged, error);
    if (name.empty()) {
        failure = FrameFailure(label, error);
        return false;
    }
    DriverPtr driver = plugin.NewDriver();
    if (!driver) {
        failure = FrameFailure(plugin.Path(), "the plug-in made no driver");
        return false;
    }
    auto frame = std::make_unique<StorageFrame>();
    BitmapInfo info;
    info.SetName(name.c_str());
    info.SetUpdateWindow(window.Window());
    BMMRES status = kResultSuccess;
    window.Begin(label);
    const Clock::time_point start = Clock::now();
    BitmapStorage* storage = driver->LoadImage(&info, &frame->bitmap, &status);
    loaded.driverMs = MillisecondsSince(start);
    if (storage == nullptr) {
        const std::string why = status == kResultBadHeader ? PicLoadFailureText(input, loaded.facts)
                                                           : DriverResultText(status, name);
        failure = FrameFailure(label, why, status);
        return false;
    }
    frame->bitmap.SetStorage(storage);
    loaded.frame = std::move(frame);
    loaded.hasAlpha = info.Type() == kImageType32WithAlpha;
    loaded.aspect = info.Aspect();
    loaded.haveOptions = SaveDriverOptions(*driver, loaded.options);
    return true;
}

std::unique_ptr<Frame> DriverPicCodec::NewFrame(uint32_t width, uint32_t height, std::string& error,
                                                bool& noStorage)
{
    auto frame = std::make_unique<StorageFrame>();
    BitmapStorage* storage = BMMCreateStorage(&frame->manager, kStorage64);
    if (storage == nullptr) {
        error = "the host made no storage";
        noStorage = true;
        return nullptr;
    }
    frame->bitmap.SetStorage(storage);
    BitmapInfo info;
    info.SetWidth(uint16_t(width)); // both <= kMaxImageSide
    info.SetHeight(uint16_t(height));
    if (!storage->AllocatePixels(&info, &frame->manager, 1)) {
        error = kNoFrameMemoryText;
        return nullptr;
    }
    return frame;
}

bool DriverPicCodec::StartingOptions(PicOptions& options, std::string& error)
{
    DriverPtr driver = plugin.NewDriver();
    if (driver && SaveDriverOptions(*driver, options))
        return true;
    error = driver ? "the driver hands out no options block" : "the plug-in made no driver";
    return false;
}

namespace {

// Hands `name` to `driver`, bound with OpenForWrite, and writes the storage
// `bitmap` holds with WriteFrame. The driver may make files of its own
// meanwhile, which an interrupt cannot see: it waits for the call.
BMMRES DriverWrite(BitmapIO& driver, const std::string& name, Bitmap& bitmap, HostWindow window,
                   double& driverMs)
{
    BitmapInfo outputInfo;
    outputInfo.SetName(name.c_str());
    outputInfo.SetUpdateWindow(window);
    const BMMRES opened = driver.OpenForWrite(&outputInfo, &bitmap);
    if (opened != kResultSuccess)
        return opened;
    const Clock::time_point start = Clock::now();
    BMMRES result;
    {
        const InterruptDeferral deferral;
        result = driver.WriteFrame(kSingleFrame);
    }
    driverMs = MillisecondsSince(start);
    return result;
}

// Why a driver did not write `label`, handed `given`.
std::string WriteFailureText(const std::string& label, BMMRES result, const std::string& given)
{
    std::error_code status;
    if (std::filesystem::is_directory(label, status))
        return "is a directory";
    if (result == kResultBadHeader)
        return "the driver refused the frame";
    return DriverResultText(result, label, given);
}

} // namespace

bool DriverPicCodec::Write(Frame& frame, const PicOptions& options, float aspect,
                           const std::string& writerName, const std::string& label, FrameProgress&,
                           FrameOutcome& written)
{
    // The pipeline hands a codec only frames it made.
    Bitmap& bitmap = static_cast<StorageFrame&>(frame).bitmap;
    DriverPtr driver = plugin.NewDriver();
    if (!driver) {
        written = FrameFailure(plugin.Path(), "the plug-in made no driver");
        return false;
    }
    if (driver->LoadOptions(&options) != 1) {
        written = FrameFailure(label, "the driver refused the options block");
        return false;
    }
    bitmap.Storage()->bi.SetAspect(aspect);
    // The driver takes the name the host's field holds: a long one is named
    // by the file's or its folder's shorter name, where the system has one.
    std::error_code status;
    const bool exists = std::filesystem::exists(writerName, status);
    const ShortName given(writerName, exists ? ShortName::Existing : ShortName::ToMake);
    if (!given.Fits()) {
        written = FrameFailure(label, given.Why());
        return false;
    }
    window.Begin(label);
    const BMMRES result =
        DriverWrite(*driver, given.Name(), bitmap, window.Window(), written.driverMs);
    if (result != kResultSuccess) {
        written = FrameFailure(label, WriteFailureText(label, result, given.Name()), result);
        return false;
    }
    written.haveOptions = SaveDriverOptions(*driver, written.options);
    return true;
}

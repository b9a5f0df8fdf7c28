#include "tools/pictool/convert/failure_text.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "host/bmm_functions.h"
#include "pic/pic_header.h"
#include "tools/pictool/formats/format_table.h"
#include "tools/pictool/formats/image_input.h"
#include "tools/pictool/support/json_writer.h"
#include "tools/pictool/support/system_error_text.h"

namespace {

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

// What a file that is no PIC file is, from its first bytes.
std::string OtherFormatText(const std::string& file, DriverTask task)
{
    ImageInput input;
    std::string error;
    if (file == "-" || !input.Open(file, error))
        return PicHeaderStatusText(PicHeaderStatus::BadMagic);
    const ImageFormat* format = FormatOfInput(input);
    if (format != nullptr && format != &PicFormat() && task == DriverTask::Load)
        return std::string("input is a ") + format->name + "; the output must be .pic";
    if (format != nullptr && format != &PicFormat())
        return std::string("not a PIC file (a ") + format->name + " image)";
    return PicHeaderStatusText(PicHeaderStatus::BadMagic);
}

// Why a file the driver would not take as PIC is not one, from the header
// reader's status.
std::string WhyNotPic(const std::string& file, DriverTask task)
{
    FILE* stream = std::fopen(file.c_str(), "rb");
    if (stream == nullptr)
        return SystemErrorText(errno);
    PicHeader header;
    PicChannelPacket packet;
    int32_t withAlpha = 0, rgbCompressed = 0, alphaCompressed = 0;
    const PicHeaderStatus status =
        ReadPicHeader(stream, header, packet, withAlpha, rgbCompressed, alphaCompressed);
    std::fclose(stream);
    if (status == PicHeaderStatus::BadMagic)
        return OtherFormatText(file, task);
    if (status == PicHeaderStatus::Read)
        return "not a PIC file (its header is not understood)";
    return PicHeaderStatusText(status);
}

} // namespace

std::string DriverFailureText(const std::string& file, BMMRES result, DriverTask task,
                              const std::string& given)
{
    std::error_code status;
    if (std::filesystem::is_directory(file, status))
        return "is a directory";
    switch (result) {
    case kResultBadHeader:
        return task == DriverTask::Write ? "the driver refused the frame" : WhyNotPic(file, task);
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
    if (task != DriverTask::Write) {
        std::string error;
        ImageInput input;
        if (!input.Open(file, error))
            return error;
    }
    std::string message = RecordedMessage(file);
    if (message.empty() && !given.empty())
        message = RecordedMessage(given);
    return message.empty() ? "failed (result " + std::to_string(result) + ")" : message;
}

std::string PicFactsFailureText(const std::string& file, const PicImageFacts& facts)
{
    if (facts.status == PicImageStatus::BadHeader &&
        facts.headerStatus == PicHeaderStatus::BadMagic)
        return OtherFormatText(file, DriverTask::ReadInfo);
    return PicStatusText(facts);
}

std::string PicDamageJson(const PicImageFacts& facts)
{
    if (!facts.rows.damaged)
        return "null";
    JsonObject damage;
    damage.AddInteger("row", facts.rows.damage.row);
    damage.AddInteger("offset", static_cast<long long>(facts.rows.damage.offset));
    damage.AddText("reason", PicRowStatusText(facts.rows.damage.reason));
    return damage.Text();
}

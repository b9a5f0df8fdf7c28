#include "tools/pictool/convert/failure_text.h"

#include <cctype>
#include <filesystem>

#include "host/bmm_functions.h"
#include "pic/pic_header.h"
#include "tools/pictool/formats/format_table.h"
#include "tools/pictool/formats/image_input.h"

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

// Why a file the driver would not take as PIC is not one, from its bytes.
std::string WhyNotPic(const std::string& file, DriverTask task)
{
    ImageInput input;
    std::string error;
    if (!input.Open(file, error))
        return error;
    const ImageFormat* format = FormatOfInput(input);
    if (format != &PicFormat()) {
        if (format != nullptr && task == DriverTask::Load)
            return std::string("input is a ") + format->name + "; the output must be .pic";
        if (format != nullptr)
            return std::string("not a PIC file (a ") + format->name + " image)";
        return "not a PIC file";
    }
    uint8_t header[kPicHeaderSize];
    if (input.Read(header, sizeof header) < sizeof header)
        return "file ends inside the header";
    // Packets of 4 bytes follow, each but the last with a first byte of 1.
    // A chain longer than this is not cut short but not understood.
    uint8_t packet[4] = {1};
    for (int count = 0; count < 64 && packet[0] == 1; ++count)
        if (input.Read(packet, sizeof packet) < sizeof packet)
            return "file ends inside the channel packets";
    return "not a PIC file (its header or channel packets are not understood)";
}

} // namespace

std::string DriverFailureText(const std::string& file, BMMRES result, DriverTask task)
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
    const std::string message = RecordedMessage(file);
    return message.empty() ? "failed (result " + std::to_string(result) + ")" : message;
}

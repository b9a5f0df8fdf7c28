#include "host/error_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/bmm_functions.h"

namespace {

// The host keeps the most recent reports; older ones are dropped.
constexpr size_t kMaxRecords = 256;

std::vector<BMMErrorRecord>& Records()
{
    static std::vector<BMMErrorRecord> records;
    return records;
}

const char* CodeMeaning(int code)
{
    switch (code) {
    case kResultNoMemory: return "out of memory";
    case kResultNoNumberedName: return "no numbered file name can be formed";
    case kResultWrongMode: return "operation does not fit the driver's open mode";
    case kResultBadHeader: return "not a PIC file (bad header)";
    case kResultNoStorage: return "no storage could be created";
    default: return "error";
    }
}

} // namespace

void RecordReportedError(const BitmapInfo* info, int code, const char* message)
{
    const int savedErrno = errno;
    BMMErrorRecord record{};
    record.code = code;
    if (info != nullptr)
        // At most the field's 259 characters, terminator or not.
        std::snprintf(record.file, sizeof record.file, "%.*s", kMaxPathLength - 1, info->Name());
    if (message != nullptr)
        std::snprintf(record.message, sizeof record.message, "%s", message);
    else if (code == kResultSystemError && savedErrno != 0)
        std::snprintf(record.message, sizeof record.message, "%s", std::strerror(savedErrno));
    else
        std::snprintf(record.message, sizeof record.message, "%s", CodeMeaning(code));
    auto& records = Records();
    if (records.size() == kMaxRecords)
        records.erase(records.begin());
    records.push_back(record);
    errno = savedErrno;
}

int BMMReportedErrorCount()
{
    return static_cast<int>(Records().size());
}

int BMMGetReportedError(int index, BMMErrorRecord* out)
{
    const auto& records = Records();
    if (out == nullptr || index < 0 || size_t(index) >= records.size())
        return 0;
    *out = records[size_t(index)];
    return 1;
}

void BMMClearReportedErrors()
{
    Records().clear();
}

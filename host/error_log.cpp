#include "host/error_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// The host keeps the most recent reports in a fixed ring, older ones
// dropped: reporting an error never allocates, so it cannot fail itself.
// Drivers on several threads report into the one ring, under its lock.
constexpr int kMaxRecords = 256;

struct RecordRing {
    BMMErrorRecord records[kMaxRecords];
    int first = 0; // index of the oldest record
    int count = 0;
    std::mutex lock;
};

RecordRing& Ring()
{
    static RecordRing ring;
    return ring;
}

const char* CodeMeaning(int code)
{
    switch (code) {
    case kResultNoMemory:
        return "out of memory";
    case kResultNoNumberedName:
        return "no numbered file name can be formed";
    case kResultWrongMode:
        return "operation does not fit the driver's open mode";
    case kResultBadHeader:
        return "not a PIC file (bad header)";
    case kResultNoStorage:
        return "no storage could be created";
    case kResultSystemError:
        return "system error, no reason given";
    default:
        return "error";
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
    RecordRing& ring = Ring();
    const std::lock_guard<std::mutex> hold(ring.lock);
    if (ring.count == kMaxRecords) {
        ring.records[ring.first] = record;
        ring.first = (ring.first + 1) % kMaxRecords;
    } else {
        ring.records[(ring.first + ring.count) % kMaxRecords] = record;
        ++ring.count;
    }
    errno = savedErrno;
}

int BMMReportedErrorCount()
{
    RecordRing& ring = Ring();
    const std::lock_guard<std::mutex> hold(ring.lock);
    return ring.count;
}

int BMMGetReportedError(int index, BMMErrorRecord* out)
{
    RecordRing& ring = Ring();
    const std::lock_guard<std::mutex> hold(ring.lock);
    if (out == nullptr || index < 0 || index >= ring.count)
        return 0;
    *out = ring.records[(ring.first + index) % kMaxRecords];
    return 1;
}

void BMMClearReportedErrors()
{
    RecordRing& ring = Ring();
    const std::lock_guard<std::mutex> hold(ring.lock);
    ring.first = 0;
    ring.count = 0;
}

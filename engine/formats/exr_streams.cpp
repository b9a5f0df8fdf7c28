#include "engine/formats/exr_streams.h"

#include <IlmThreadPool.h>
#include <ImfHeader.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>

#include "engine/formats/image_format.h"
#include "engine/formats/image_input.h"

void LimitExrSizes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Imf::Header::setMaxImageSize(int(kMaxImageSide), int(kMaxImageSide));
        Imf::Header::setMaxTileSize(int(kMaxImageSide), int(kMaxImageSide));
        // OpenEXR makes its (thread-less) pool on first use, inside a read
        // that has already counted a task for it: were that allocation to
        // fail there, the read would wait for the task for ever. Made here,
        // a failure is an exception like any other.
        IlmThread::ThreadPool::globalThreadPool();
    });
}

std::string CorruptExr(const std::exception& failure)
{
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr)
        return "out of memory";
    return std::string("EXR data is corrupt or cut short (") + failure.what() + ")";
}

ExrInputStream::ExrInputStream(ImageInput& from) : Imf::IStream(from.Path().c_str()), input(from) {}

bool ExrInputStream::read(char bytes[], int count)
{
    if (count < 0 || input.Read(bytes, size_t(count)) != size_t(count))
        throw std::runtime_error(input.Failed() ? "read failed" : "cut short");
    return input.Tell() < input.Size();
}

uint64_t ExrInputStream::tellg()
{
    return input.Tell();
}

void ExrInputStream::seekg(uint64_t position)
{
    if (!input.Seek(position))
        throw std::runtime_error("seek failed");
}

void ExrOutputStream::write(const char bytes[], int count)
{
    if (count < 0 || std::fwrite(bytes, 1, size_t(count), file) != size_t(count)) {
        failure = failure != 0 ? failure : (errno != 0 ? errno : EIO);
        throw std::runtime_error("write failed");
    }
    // The part of these bytes that falls on the offsets watched.
    const uint64_t watchTo = watchFrom + watched.size();
    const uint64_t from = std::max(position, watchFrom);
    const uint64_t to = std::min(position + uint64_t(count), watchTo);
    if (from < to)
        std::memcpy(watched.data() + (from - watchFrom), bytes + (from - position), to - from);
    position += uint64_t(count);
}

uint64_t ExrOutputStream::tellp()
{
    return position;
}

void ExrOutputStream::seekp(uint64_t to)
{
    if (fseeko(file, off_t(to), SEEK_SET) != 0) {
        failure = failure != 0 ? failure : (errno != 0 ? errno : EIO);
        throw std::runtime_error("seek failed");
    }
    position = to;
}

void ExrOutputStream::WatchOffsets(uint64_t from, size_t count)
{
    watchFrom = from;
    watched.assign(count * sizeof(uint64_t), 0);
}

bool ExrOutputStream::OffsetsWritten() const
{
    for (size_t at = 0; at < watched.size(); at += sizeof(uint64_t)) {
        uint64_t offset = 0;
        std::memcpy(&offset, watched.data() + at, sizeof offset);
        if (offset == 0)
            return false;
    }
    return true;
}

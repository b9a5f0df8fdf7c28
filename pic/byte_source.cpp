#include "pic/byte_source.h"

#include <algorithm>
#include <cstring>

PicByteSource::PicByteSource(FILE* input, size_t bufferSize)
    : file(input), capacity(std::max<size_t>(bufferSize, 1)), buffer(new uint8_t[capacity]),
      base(buffer.get()), cursor(base), limit(base)
{
}

PicByteSource::PicByteSource(const uint8_t* data, size_t size)
    : file(nullptr), capacity(size), base(data), cursor(data), limit(data + size), atEnd(true)
{
}

PicByteSource::~PicByteSource()
{
    Release();
}

size_t PicByteSource::Fill(size_t wanted)
{
    const size_t buffered = Buffered();
    if (buffered >= wanted || buffered == capacity || atEnd)
        return buffered;
    // Keep the unread bytes, moved to the front, and read behind them as
    // much as the buffer holds.
    uint8_t* start = buffer.get();
    handedBefore += uint64_t(cursor - start);
    std::memmove(start, cursor, buffered);
    const size_t room = capacity - buffered;
    const size_t got = std::fread(start + buffered, 1, room, file);
    if (got < room) {
        atEnd = true;
        readFailed = std::ferror(file) != 0;
    }
    cursor = start;
    limit = start + buffered + got;
    return Buffered();
}

int PicByteSource::NextSlow()
{
    if (Fill(1) == 0) {
        wentShort = true;
        return -1;
    }
    return *cursor++;
}

size_t PicByteSource::ReadFilled(uint8_t* out, size_t count)
{
    size_t copied = 0;
    while (copied < count) {
        const size_t available = Fill(count - copied);
        if (available == 0)
            break;
        const size_t take = std::min(available, count - copied);
        std::memcpy(out + copied, cursor, take);
        cursor += take;
        copied += take;
    }
    if (copied < count) {
        wentShort = true;
        std::memset(out + copied, 255, count - copied);
    }
    return copied;
}

int PicByteSource::Release()
{
    if (file == nullptr)
        return 1;
    const size_t unread = Buffered();
    // unread <= capacity, a buffer we could allocate; callers keep it far
    // below 2 GiB, so the offset fits a long on every platform.
    if (unread != 0 && std::fseek(file, -long(unread), SEEK_CUR) != 0)
        return 0;
    handedBefore += uint64_t(cursor - base);
    cursor = limit = base;
    atEnd = false;
    return 1;
}

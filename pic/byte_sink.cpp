#include "pic/byte_sink.h"

#include <cstring>

PicByteSink::PicByteSink(FILE* output)
    : file(output), buffer(new uint8_t[kBufferSize]), cursor(buffer.get()),
      end(buffer.get() + kBufferSize)
{
}

PicByteSink::~PicByteSink()
{
    Drain();
}

void PicByteSink::Drain()
{
    const size_t count = size_t(cursor - buffer.get());
    if (count != 0 && std::fwrite(buffer.get(), 1, count, file) != count)
        failed = true;
    cursor = buffer.get();
}

bool PicByteSink::Put(const uint8_t* bytes, size_t count)
{
    if (count == 0)
        return !failed;
    if (size_t(end - cursor) < count) {
        Drain();
        if (count >= kBufferSize) {
            if (std::fwrite(bytes, 1, count, file) != count)
                failed = true;
            return !failed;
        }
    }
    std::memcpy(cursor, bytes, count);
    cursor += count;
    return !failed;
}

int PicByteSink::Flush()
{
    Drain();
    if (std::fflush(file) != 0)
        failed = true;
    return Ok();
}

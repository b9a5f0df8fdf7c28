// Fuzzes the header reader: any bytes as a file, read through a C stream.
// The reader must answer why it refused, stop at the end of the file, and on success
// leave the stream right after the last packet.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pic/pic_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* file = std::tmpfile();
    if (file == nullptr)
        return 0;
    if (size > 0 && std::fwrite(data, 1, size, file) != size) {
        std::fclose(file);
        return 0;
    }
    std::rewind(file);

    PicHeader header;
    PicChannelPacket packet;
    int32_t withAlpha = -1, rgbCompressed = -1, alphaCompressed = -1;
    const PicHeaderStatus status =
        ReadPicHeader(file, header, packet, withAlpha, rgbCompressed, alphaCompressed);
    // A file in memory is never a failed read, and every answer has words.
    if (status == PicHeaderStatus::ReadFailed || PicHeaderStatusText(status)[0] == '\0')
        std::abort();
    if (status == PicHeaderStatus::Read) {
        const long position = std::ftell(file);
        // Header plus a whole number of packets, all inside the input.
        if (position < 108 || size_t(position) > size || (position - 104) % 4 != 0)
            std::abort();
        if (withAlpha != 0 && withAlpha != 1)
            std::abort();
    } else if (withAlpha != -1 || rgbCompressed != -1 || alphaCompressed != -1) {
        std::abort(); // a rejected file changes no layout field
    }
    std::fclose(file);
    return 0;
}

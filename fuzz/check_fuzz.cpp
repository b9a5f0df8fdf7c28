// Fuzzes the whole-file check (`pictool check`): any bytes as a PIC file,
// read from memory and again through a C stream with a buffer of a few
// bytes. Both must agree exactly; the damage must lie inside the file and
// after the packets; the rows complete must be the rows before it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "pic/byte_source.h"
#include "pic/pic_row_reader.h"

namespace {

void Check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "check fault: %s\n", what);
        std::abort();
    }
}

struct Result {
    int header = 0;
    uint64_t rowsStart = 0;
    PicRowsCheck rows;
};

Result CheckSource(PicByteSource& source)
{
    Result result;
    PicHeader header;
    std::vector<PicChannelPacket> packets;
    result.header = ReadPicHeader(source, header, packets) == PicHeaderStatus::Read ? 1 : 0;
    if (result.header == 1) {
        result.rowsStart = source.Position();
        result.rows = CheckPicRows(source, packets, header.Width(), header.Height());
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PicByteSource memory(data, size);
    const Result fromMemory = CheckSource(memory);

    FILE* file = std::tmpfile();
    Check(file != nullptr, "no temporary file");
    Check(size == 0 || std::fwrite(data, 1, size, file) == size, "temporary file not written");
    std::rewind(file);
    Result fromFile;
    {
        PicByteSource small(file, 1 + size % 23);
        fromFile = CheckSource(small);
    }
    std::fclose(file);

    Check(fromMemory.header == fromFile.header, "header results differ");
    if (fromMemory.header != 1)
        return 0;
    const PicRowsCheck& a = fromMemory.rows;
    const PicRowsCheck& b = fromFile.rows;
    Check(a.damaged == b.damaged && a.rowsComplete == b.rowsComplete &&
              a.trailingBytes == b.trailingBytes,
          "memory and file disagree");
    Check(fromMemory.rowsStart >= 108 && fromMemory.rowsStart <= size, "rows begin outside");
    if (a.damaged) {
        Check(a.damage.row == b.damage.row && a.damage.offset == b.damage.offset &&
                  a.damage.reason == b.damage.reason,
              "memory and file disagree on the damage");
        Check(a.damage.row == a.rowsComplete, "rows complete are not the rows before the damage");
        Check(a.damage.offset >= fromMemory.rowsStart && a.damage.offset <= size,
              "damage outside the rows");
        Check(a.trailingBytes == 0, "trailing bytes after damage");
    } else {
        Check(a.trailingBytes <= size - fromMemory.rowsStart, "more trailing bytes than bytes");
    }
    return 0;
}

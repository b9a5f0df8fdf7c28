#include <fcntl.h>
#include <io.h>

#include "engine/formats/image_input.h"

void UseBinaryMode(FILE* file)
{
    _setmode(_fileno(file), _O_BINARY);
}

bool SeekFile(FILE* file, uint64_t offset)
{
    return offset <= uint64_t(INT64_MAX) &&
           _fseeki64(file, static_cast<int64_t>(offset), SEEK_SET) == 0;
}

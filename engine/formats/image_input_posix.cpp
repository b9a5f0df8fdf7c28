#include "engine/formats/image_input.h"

void UseBinaryMode(FILE*)
{
    // Streams carry bytes as they are.
}

bool SeekFile(FILE* file, uint64_t offset)
{
    return offset <= uint64_t(INT64_MAX) && fseeko(file, off_t(offset), SEEK_SET) == 0;
}

#include <fcntl.h>
#include <io.h>

#include "tools/pictool/formats/image_input.h"

void UseBinaryMode(FILE* file)
{
    _setmode(_fileno(file), _O_BINARY);
}

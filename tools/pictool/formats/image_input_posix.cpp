#include "tools/pictool/formats/image_input.h"

void UseBinaryMode(FILE*)
{
    // Streams carry bytes as they are.
}

#include <unistd.h>

#include "engine/formats/image_output.h"

unsigned ProcessId()
{
    return unsigned(getpid());
}

#include <process.h>

#include "tools/pictool/formats/image_output.h"

unsigned ProcessId()
{
    return unsigned(_getpid());
}

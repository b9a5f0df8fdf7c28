#include "ui/about_box.h"

int RunAboutBox(HostInstance, int, HostWindow)
{
    return -1;
}

#include "driver/pic_options.h"

#include <cstring>

PicOptions DefaultPicOptions()
{
    PicOptions options;
    std::memset(&options, 0, sizeof options);
    options.signature = kPicOptionsSignature;
    options.withAlpha = 1;
    options.rgbCompressed = 1;
    options.alphaCompressed = 1;
    return options;
}

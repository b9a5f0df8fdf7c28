// PIC in the format table. Its pixels are loaded and written by a PIC codec
// (convert/pic_codec.h), the plug-in's drivers or pic/'s own; the table
// knows its name, extension and first bytes.
#include "engine/formats/image_format.h"
#include "pic/pic_header.h"

namespace {

bool SniffPic(const uint8_t* head, size_t count)
{
    return count >= 4 && PicMagicAgrees(head, 4);
}

} // namespace

extern const ImageFormat kPicFormat = {
    "PIC",
    "pic",
    SniffPic,
    nullptr,
    nullptr,
    false,
    false,
    true,
    false,
    false,
    false,
    "by the plug-in's LoadImage: RGB or RGBA, 8 bits",
    "by the plug-in's WriteFrame: RGB or RGBA, raw or run-length",
};

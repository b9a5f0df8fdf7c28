// PicOptions: the driver's output options, persisted by the host as an
// opaque 96-byte block, so its layout is a stored format. Integers are in the
// machine's order (little-endian on every host this plug-in runs in).
//
//   offset size field
//        0    4 signature        0x406CCCCD (bytes CD CC 6C 40), the bits of 3.7f
//        4    4 withAlpha        1 = RGBA (an alpha packet), anything else RGB
//        8    4 rgbCompressed    1 = mixed run-length rows, anything else raw
//       12    4 alphaCompressed  layout of the last file read; writers ignore it
//       16   80 comment          user text; NUL-terminated when we store it,
//                                maybe not when a block is loaded
#pragma once

#include <cstddef>
#include <cstdint>

#include "pic/pic_header.h"

constexpr uint32_t kPicOptionsSignature = 0x406CCCCD;
constexpr int kPicOptionsSize = 96;
constexpr int kPicOptionsCommentSize = 80;
// The comment goes into the header's field of the same size; PicCommentLength
// measures both.
static_assert(kPicOptionsCommentSize == kPicCommentSize, "both comment fields are 80 bytes");

struct PicOptions {
    uint32_t signature;
    int32_t withAlpha;
    int32_t rgbCompressed;
    int32_t alphaCompressed;
    char comment[kPicOptionsCommentSize];
};
static_assert(sizeof(PicOptions) == kPicOptionsSize, "the options block is 96 bytes");
static_assert(offsetof(PicOptions, withAlpha) == 4 && offsetof(PicOptions, rgbCompressed) == 8 &&
                  offsetof(PicOptions, alphaCompressed) == 12 &&
                  offsetof(PicOptions, comment) == 16,
              "PicOptions fields sit at their stored offsets");

// What a file written with `options` holds besides its pixels: rows
// run-length coded when rgbCompressed is 1, `aspect`, and the comment
// field the driver stores (its prefix, then the options' comment). The
// driver's WriteFrame and pic/'s writer where no driver writes both take it.
inline PicWriteOptions PicWriteOptionsOf(const PicOptions& options, float aspect)
{
    PicWriteOptions layout;
    layout.compressed = options.rgbCompressed == 1;
    layout.aspect = aspect;
    ComposeHeaderComment(options.comment, layout.comment);
    return layout;
}

// Signature set, alpha on, compression on, empty comment: what a new
// driver holds, and what pic/'s writer starts from where no driver writes.
inline PicOptions DefaultPicOptions()
{
    PicOptions options{};
    options.signature = kPicOptionsSignature;
    options.withAlpha = 1;
    options.rgbCompressed = 1;
    options.alphaCompressed = 1;
    return options;
}

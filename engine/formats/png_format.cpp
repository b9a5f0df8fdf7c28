// PNG files through libpng: any colour type and bit depth, interlaced or
// not. Palette and grey images become RGB, a tRNS chunk becomes alpha,
// 16-bit samples are rounded to 8 bits and samples below 8 bits scaled up;
// no gamma is applied. Written RGB or RGBA, 8 or 16 bits. The pixel aspect
// ratio travels as pHYs, the comment as a text chunk keyed "Comment"
// ("Description" is read too, as other tools write it): tEXt or zTXt
// (Latin-1) or iTXt (UTF-8) read, each made UTF-8; written as tEXt where
// Latin-1 holds it, else iTXt.
#include <png.h>

#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/formats/image_format.h"
#include "engine/formats/image_input.h"
#include "engine/formats/image_output.h"
#include "engine/support/system_error_text.h"
#include "engine/support/utf8_text.h"

// libpng reports errors by calling our handler, which jumps back to the
// setjmp of the function that made the call. Those functions hold no object
// with a destructor, so the jump skips nothing that needs running; buffers
// are owned by the reader or writer objects.

namespace {

// libpng's side of one read or write, and the last error it reported.
struct PngSession {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ImageInput* input = nullptr;
    char message[200] = "";
    bool overLimit = false;     // libpng warned that a side passes the user limit
    bool chunkTooLarge = false; // a chunk declared more than --max-block-mib
    // The last 8 bytes libpng read in one piece: a chunk's length and type.
    uint8_t chunkHeader[8] = {};
};

void OnPngError(png_structp png, png_const_charp text)
{
    auto* session = static_cast<PngSession*>(png_get_error_ptr(png));
    std::snprintf(session->message, sizeof session->message, "%s", text ? text : "PNG error");
    png_longjmp(png, 1);
}

// libpng warns of a side over the user limit, then fails with "Invalid
// IHDR data": the warning is what says why. A chunk longer than the chunk
// limit is only a warning to libpng, which then allocates it all the same
// (a few bytes may declare 2 GiB): it ends the read here.
void OnPngWarning(png_structp png, png_const_charp text)
{
    auto* session = static_cast<PngSession*>(png_get_error_ptr(png));
    if (text != nullptr && std::strstr(text, "exceeds user limit") != nullptr)
        session->overLimit = true;
    if (text != nullptr && std::strstr(text, "chunk data is too large") != nullptr) {
        session->chunkTooLarge = true;
        png_error(png, text);
    }
}

void ReadFromInput(png_structp png, png_bytep bytes, png_size_t count)
{
    auto* session = static_cast<PngSession*>(png_get_error_ptr(png));
    if (session->input->Read(bytes, count) != count)
        png_error(png, "cut short");
    if (count == sizeof session->chunkHeader)
        std::memcpy(session->chunkHeader, bytes, count);
}

// "a zTXt chunk of 1898512411 bytes", from the chunk header read last.
std::string ChunkText(const PngSession& session)
{
    const uint8_t* header = session.chunkHeader;
    const uint32_t length = uint32_t(header[0]) << 24 | uint32_t(header[1]) << 16 |
                            uint32_t(header[2]) << 8 | header[3];
    std::string type;
    for (int index = 4; index < 8; ++index)
        type += std::isalpha(header[index]) ? char(header[index]) : '?';
    return "a " + type + " chunk of " + std::to_string(length) + " bytes";
}

// What the rows look like once the read transforms are applied.
struct PngLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0; // 3 or 4
    bool interlaced = false;
    size_t rowBytes = 0;
    uint64_t storedBytes = 0; // the decompressed data as stored, filter bytes included
};

// The most text and unknown chunks kept: libpng's own default, which
// Debian's build leaves unbounded.
constexpr png_uint_32 kMaxPngChunks = 1000;

// Deflate makes at most 1032 bytes of one; a file this much smaller than its
// rows cannot hold them, whatever its header says.
constexpr uint64_t kDeflateMaxRatio = 1032;

bool ReadPngInfo(PngSession& session, uint64_t maxChunkBytes, PngLayout& layout)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    // The sides PIC holds at most; CheckImageSize gives the words for it.
    png_set_user_limits(session.png, kMaxImageSide, kMaxImageSide);
    // A chunk other than the image data, or a compressed comment inflated,
    // takes at most what one block may (--max-block-mib).
    png_set_chunk_malloc_max(session.png, png_alloc_size_t(maxChunkBytes));
    png_set_chunk_cache_max(session.png, kMaxPngChunks);
    png_read_info(session.png, session.info);
    const int colorType = png_get_color_type(session.png, session.info);
    const int bitDepth = png_get_bit_depth(session.png, session.info);
    layout.storedBytes = uint64_t(png_get_image_height(session.png, session.info)) *
                         ((uint64_t(png_get_image_width(session.png, session.info)) *
                               png_get_channels(session.png, session.info) * uint64_t(bitDepth) +
                           7) /
                              8 +
                          1);
    layout.interlaced = png_get_interlace_type(session.png, session.info) != PNG_INTERLACE_NONE;
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(session.png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(session.png);
    if (png_get_valid(session.png, session.info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(session.png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(session.png);
    if (bitDepth == 16)
        png_set_scale_16(session.png); // rounds, where strip_16 would cut
    if (layout.interlaced)
        png_set_interlace_handling(session.png);
    png_read_update_info(session.png, session.info);
    layout.width = png_get_image_width(session.png, session.info);
    layout.height = png_get_image_height(session.png, session.info);
    layout.channels = png_get_channels(session.png, session.info);
    layout.rowBytes = png_get_rowbytes(session.png, session.info);
    return true;
}

bool CheckLayout(const PngLayout& layout, std::string& error)
{
    const bool known = (layout.channels == 3 || layout.channels == 4) &&
                       layout.rowBytes == size_t(layout.width) * size_t(layout.channels);
    if (!known)
        error = "PNG layout not understood after expansion";
    return known;
}

std::string CorruptPng(const PngSession& session)
{
    return std::string("PNG data is corrupt or cut short (") + session.message + ")";
}

// The pixel aspect ratio and comment of the chunks read so far.
void ReadPngMetadata(const PngSession& session, ImageHeader& header)
{
    png_uint_32 across = 0, down = 0;
    int unit = 0;
    if (png_get_pHYs(session.png, session.info, &across, &down, &unit) != 0)
        header.haveAspect = AspectFromDensity(across, down, header.aspect) || header.haveAspect;
    png_textp texts = nullptr;
    int count = 0;
    png_get_text(session.png, session.info, &texts, &count);
    for (const char* key : {"Comment", "Description"}) {
        for (int index = 0; index < count && !header.haveComment; ++index) {
            const png_text& text = texts[index];
            if (std::strcmp(text.key, key) != 0 || text.text == nullptr)
                continue;
            // iTXt gives its length in itxt_length, and is UTF-8 already.
            const bool international = text.compression >= PNG_ITXT_COMPRESSION_NONE;
            const std::string value(text.text, international ? text.itxt_length : text.text_length);
            header.comment = international ? value : Latin1AsUtf8(value);
            header.haveComment = !header.comment.empty();
        }
    }
}

// Each entry into libpng has a setjmp of its own; a jump returns false.
bool ReadInterlaced(PngSession& session, std::vector<png_bytep>& rows)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    png_read_image(session.png, rows.data());
    return true;
}

bool ReadOneRow(PngSession& session, uint8_t* row)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    png_read_row(session.png, row, nullptr);
    return true;
}

bool ReadEnd(PngSession& session)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    png_read_end(session.png, session.info);
    return true;
}

class PngSource : public RowSource {
public:
    PngSource(ImageInput& from, const ReadSettings& asked) : settings(asked)
    {
        session.input = &from;
    }
    ~PngSource() override { png_destroy_read_struct(&session.png, &session.info, nullptr); }

    bool Start(ImageHeader& header, std::string& error) override
    {
        session.png =
            png_create_read_struct(PNG_LIBPNG_VER_STRING, &session, OnPngError, OnPngWarning);
        if (session.png != nullptr)
            session.info = png_create_info_struct(session.png);
        if (session.info == nullptr) {
            error = "out of memory";
            return false;
        }
        png_set_read_fn(session.png, nullptr, ReadFromInput);
        if (!ReadPngInfo(session, settings.maxBlockMib << 20, layout)) {
            if (session.overLimit)
                error = "PNG image is wider or taller than " + SideLimitText();
            else if (session.chunkTooLarge)
                error = LimitText("declares " + ChunkText(session), "--max-block-mib",
                                  settings.maxBlockMib);
            else
                error = CorruptPng(session);
            return false;
        }
        if (!CheckImageSize(layout.width, layout.height, settings.maxPixels, error) ||
            !CheckLayout(layout, error))
            return false;
        const uint64_t size = session.input->Size();
        if (size != 0 && layout.storedBytes / kDeflateMaxRatio > size) {
            error = "PNG data is corrupt or cut short (" + std::to_string(size) +
                    " bytes cannot hold " + std::to_string(layout.width) + " x " +
                    std::to_string(layout.height) + " pixels)";
            return false;
        }
        header.width = layout.width;
        header.height = layout.height;
        header.hasAlpha = layout.channels == 4;
        ReadPngMetadata(session, header);
        // Interlaced images come in passes over the whole image, so they
        // are read whole; others row by row.
        if (layout.interlaced) {
            bytes.resize(layout.rowBytes * layout.height);
            rows.resize(layout.height);
            for (uint32_t y = 0; y < layout.height; ++y)
                rows[y] = bytes.data() + size_t(y) * layout.rowBytes;
            if (!ReadInterlaced(session, rows)) {
                error = CorruptPng(session);
                return false;
            }
        } else {
            bytes.resize(layout.rowBytes);
        }
        return true;
    }

    bool Row(uint16_t* pixel, std::string& error) override
    {
        const uint8_t* sample = nullptr;
        if (layout.interlaced) {
            sample = rows[next++];
        } else {
            if (!ReadOneRow(session, bytes.data())) {
                error = CorruptPng(session);
                return false;
            }
            sample = bytes.data();
        }
        for (uint32_t x = 0; x < layout.width; ++x, pixel += 4) {
            for (int c = 0; c < layout.channels; ++c)
                pixel[c] = uint16_t(*sample++ << 8);
            if (layout.channels == 3)
                pixel[3] = kOpaqueAlpha;
        }
        return true;
    }

    // Text chunks may follow the image data. A file that ends without its
    // closing chunks has given every row all the same: that is no failure.
    bool Finish(ImageHeader& header, std::string&) override
    {
        if (ReadEnd(session))
            ReadPngMetadata(session, header);
        return true;
    }

private:
    PngSession session;
    ReadSettings settings;
    PngLayout layout;
    std::vector<uint8_t> bytes;
    std::vector<png_bytep> rows;
    uint32_t next = 0;
};

bool BeginPng(PngSession& session, FILE* file, const ImageHeader& header, int bitDepth,
              png_text* comment)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    png_init_io(session.png, file);
    png_set_IHDR(session.png, session.info, header.width, header.height, bitDepth,
                 header.hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (AspectToWrite(header)) {
        uint32_t across = 1, down = 1;
        DensityFromAspect(header.aspect, 0x7FFFFFFF, across, down);
        png_set_pHYs(session.png, session.info, across, down, PNG_RESOLUTION_UNKNOWN);
    }
    if (comment != nullptr)
        png_set_text(session.png, session.info, comment, 1);
    png_write_info(session.png, session.info);
    return true;
}

// The comment's chunk: tEXt is Latin-1, so text past it goes as iTXt, in
// UTF-8. `bytes` keeps the text the chunk points to.
png_text CommentChunk(const std::string& comment, std::string& bytes)
{
    png_text text{};
    const bool plain = Utf8AsLatin1(comment, bytes);
    if (!plain)
        bytes = comment;
    text.compression = plain ? PNG_TEXT_COMPRESSION_NONE : PNG_ITXT_COMPRESSION_NONE;
    text.key = const_cast<char*>("Comment");
    text.text = const_cast<char*>(bytes.c_str());
    if (plain)
        text.text_length = bytes.size();
    else
        text.itxt_length = bytes.size();
    return text;
}

bool WriteOneRow(PngSession& session, uint8_t* row)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    png_write_row(session.png, row);
    return true;
}

bool EndPng(PngSession& session)
{
    if (setjmp(png_jmpbuf(session.png)))
        return false;
    png_write_end(session.png, nullptr);
    return true;
}

class PngSink : public RowSink {
public:
    PngSink(const std::string& name, SampleDepth depth)
        : path(name), bitDepth(depth == SampleDepth::Eight ? 8 : 16)
    {
    }
    ~PngSink() override { png_destroy_write_struct(&session.png, &session.info); }

    bool Start(const ImageHeader& header, std::string& error) override
    {
        width = header.width;
        channels = header.hasAlpha ? 4 : 3;
        sixteenBit = header.sixteenBit;
        row.resize(size_t(width) * channels * size_t(bitDepth / 8));
        session.png =
            png_create_write_struct(PNG_LIBPNG_VER_STRING, &session, OnPngError, OnPngWarning);
        if (session.png != nullptr)
            session.info = png_create_info_struct(session.png);
        if (session.info == nullptr) {
            error = "out of memory";
            return false;
        }
        file = output.Open(path, error);
        if (file == nullptr)
            return false;
        const bool comment = header.haveComment && !header.comment.empty();
        png_text chunk = comment ? CommentChunk(header.comment, commentBytes) : png_text{};
        errno = 0;
        return Check(BeginPng(session, file, header, bitDepth, comment ? &chunk : nullptr), error);
    }

    bool Row(const uint16_t* pixel, std::string& error) override
    {
        uint8_t* out = row.data();
        for (uint32_t x = 0; x < width; ++x, pixel += 4) {
            for (int c = 0; c < channels; ++c) {
                if (bitDepth == 16) {
                    const uint16_t value = Sample16(pixel[c], sixteenBit);
                    *out++ = uint8_t(value >> 8);
                    *out++ = uint8_t(value & 0xFF);
                } else {
                    *out++ = Sample8(pixel[c], sixteenBit);
                }
            }
        }
        errno = 0;
        return Check(WriteOneRow(session, row.data()), error);
    }

    bool Finish(std::string& error) override
    {
        errno = 0;
        const bool written = !failed && Check(EndPng(session), error);
        return output.Close(written, error);
    }

private:
    // libpng's own words for a failed write say nothing of why.
    bool Check(bool written, std::string& error)
    {
        if (!written) {
            failed = true;
            error =
                errno != 0 ? SystemErrorText(errno) : std::string("PNG error: ") + session.message;
        }
        return written;
    }

    std::string path;
    int bitDepth;
    uint32_t width = 0;
    int channels = 3;
    bool sixteenBit = false;
    PngSession session;
    ImageOutput output;
    FILE* file = nullptr;
    std::vector<uint8_t> row;
    std::string commentBytes;
    bool failed = false;
};

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool SniffPng(const uint8_t* head, size_t count)
{
    return count >= 8 && std::memcmp(head, kPngSignature, 8) == 0;
}

std::unique_ptr<RowSource> NewPngReader(ImageInput& input, const ReadSettings& settings)
{
    return std::make_unique<PngSource>(input, settings);
}

std::unique_ptr<RowSink> NewPngWriter(const std::string& path, const WriteSettings& settings)
{
    return std::make_unique<PngSink>(path, settings.depth);
}

} // namespace

extern const ImageFormat kPngFormat = {
    "PNG",
    "png",
    SniffPng,
    NewPngReader,
    NewPngWriter,
    true,
    false,
    true,
    false,
    false,
    false,
    "any colour type, 1 to 16 bits, interlaced, tRNS; pHYs, Comment in\n"
    "           tEXt, zTXt or iTXt",
    "RGB or RGBA, 8 or 16 bits (--depth); pHYs, Comment in tEXt\n"
    "           (iTXt past Latin-1)",
};

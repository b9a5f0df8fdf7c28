// libpixbufloader-pic.so: the gdk-pixbuf loader module for PIC files, so
// that Eye of GNOME, file managers' thumbnails and every GdkPixbuf program
// show them. gdk-pixbuf finds it through its loader cache
// (gdk-pixbuf-query-loaders asks fill_info for the cache's lines) and picks
// it for the MIME type image/x-softimage-pic.
//
// The loader is progressive: rows appear as their bytes arrive. A damaged
// file gives the partial picture (the rows the whole-image reader keeps)
// and an error that says where the damage starts, as GdkPixbufLoader's
// close() reports it; gdk_pixbuf_new_from_file then gives the error alone.
// A picture of more than PIC_MAX_PIXELS pixels (default 2^28, as the
// plug-in's storage holds) is refused before its pixels are allocated.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gmodule.h>

#include <cstdlib>
#include <new>

#include "desktop/picture_feed.h"
#include "host/bitmap_storage.h"

namespace {

uint64_t MaxPixels()
{
    const char* text = std::getenv("PIC_MAX_PIXELS");
    if (text == nullptr || *text == '\0')
        return kMaxStoragePixels;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return *end == '\0' ? uint64_t(value) : kMaxStoragePixels;
}

// One load: the callbacks gdk-pixbuf gave and the picture being filled.
class Load : public PictureRows {
public:
    Load(GdkPixbufModuleSizeFunc size, GdkPixbufModulePreparedFunc prepared,
         GdkPixbufModuleUpdatedFunc updated, gpointer user)
        : sizeFunc(size), preparedFunc(prepared), updatedFunc(updated), userData(user),
          feed(*this, MaxPixels())
    {
    }
    ~Load() override
    {
        if (pixbuf != nullptr)
            g_object_unref(pixbuf);
    }

    Prepared Prepare(uint32_t width, uint32_t height, bool alpha) override
    {
        int wantedWidth = int(width), wantedHeight = int(height);
        if (sizeFunc != nullptr) {
            sizeFunc(&wantedWidth, &wantedHeight, userData);
            if (wantedWidth == 0 || wantedHeight == 0)
                return Prepared::Stop;
        }
        pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, int(width), int(height));
        if (pixbuf == nullptr)
            return Prepared::NoMemory;
        gdk_pixbuf_fill(pixbuf, 0);
        pixels = gdk_pixbuf_get_pixels(pixbuf);
        rowStride = size_t(gdk_pixbuf_get_rowstride(pixbuf));
        if (preparedFunc != nullptr)
            preparedFunc(pixbuf, nullptr, userData);
        return Prepared::Go;
    }
    uint8_t* Row(uint32_t y) override { return pixels + size_t(y) * rowStride; }
    void Updated(uint32_t first, uint32_t count) override
    {
        if (updatedFunc != nullptr)
            updatedFunc(pixbuf, 0, int(first), gdk_pixbuf_get_width(pixbuf), int(count), userData);
    }

    PictureFeed& Feed() { return feed; }

private:
    GdkPixbufModuleSizeFunc sizeFunc;
    GdkPixbufModulePreparedFunc preparedFunc;
    GdkPixbufModuleUpdatedFunc updatedFunc;
    gpointer userData;
    GdkPixbuf* pixbuf = nullptr;
    uint8_t* pixels = nullptr;
    size_t rowStride = 0;
    PictureFeed feed;
};

void SetError(GError** error, const PictureFeed& feed)
{
    g_set_error_literal(error, GDK_PIXBUF_ERROR,
                        feed.NoMemory() ? GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY
                                        : GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                        feed.Error().c_str());
}

gpointer BeginLoad(GdkPixbufModuleSizeFunc size, GdkPixbufModulePreparedFunc prepared,
                   GdkPixbufModuleUpdatedFunc updated, gpointer user, GError** error)
{
    Load* load = new (std::nothrow) Load(size, prepared, updated, user);
    if (load == nullptr)
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                            "out of memory");
    return load;
}

gboolean LoadIncrement(gpointer context, const guchar* bytes, guint count, GError** error)
{
    PictureFeed& feed = static_cast<Load*>(context)->Feed();
    if (feed.Add(bytes, count))
        return TRUE;
    SetError(error, feed);
    return FALSE;
}

gboolean StopLoad(gpointer context, GError** error)
{
    Load* load = static_cast<Load*>(context);
    PictureFeed& feed = load->Feed();
    gboolean whole = TRUE;
    if (!feed.Finish()) {
        SetError(error, feed);
        whole = FALSE;
    } else if (!feed.Damage().empty()) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "damaged: %s",
                    feed.Damage().c_str());
        whole = FALSE;
    }
    delete load;
    return whole;
}

// The header's magic at offset 0 and "PICT" at 88; the bytes between are
// anything.
constexpr int kSignatureSize = 92;
struct Signature {
    char prefix[kSignatureSize + 1];
    char mask[kSignatureSize + 1];
};

Signature MakeSignature()
{
    Signature signature{};
    for (int i = 0; i < kSignatureSize; ++i) {
        signature.prefix[i] = '?';
        signature.mask[i] = 'x';
    }
    const char magic[] = "\x53\x80\xF6\x34";
    for (int i = 0; i < 4; ++i) {
        signature.prefix[i] = magic[i];
        signature.prefix[88 + i] = "PICT"[i];
        signature.mask[i] = signature.mask[88 + i] = ' ';
    }
    return signature;
}

} // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module)
{
    module->begin_load = BeginLoad;
    module->load_increment = LoadIncrement;
    module->stop_load = StopLoad;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info)
{
    static Signature signature = MakeSignature();
    static GdkPixbufModulePattern patterns[] = {
        {signature.prefix, signature.mask, 100},
        {nullptr, nullptr, 0},
    };
    static gchar name[] = "pic";
    static gchar description[] = "Softimage PIC";
    static gchar mimeType[] = "image/x-softimage-pic";
    static gchar* mimeTypes[] = {mimeType, nullptr};
    static gchar extension[] = "pic";
    static gchar* extensions[] = {extension, nullptr};
    static gchar license[] = "other";
    info->name = name;
    info->signature = patterns;
    info->description = description;
    info->mime_types = mimeTypes;
    info->extensions = extensions;
    info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
    info->license = license;
}

} // extern "C"

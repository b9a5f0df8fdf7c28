"""Softimage PIC for imageio: importing this module registers the format
with imageio's plug-in interface (imageio 2, as Debian 12 ships it), and so
with skimage.io, which reads and writes through imageio.

    import imageio
    import picfile.imageio
    pixels = imageio.imread("shot.pic")   # uint8 (H, W, 3|4), as picfile.imread
    pixels.meta["comment"], pixels.meta["aspect"]
    imageio.imwrite("copy.pic", pixels, compression="raw", comment="take 2")

Reading takes picfile.imread's `strict` and `max_pixels`, writing
picfile.imwrite's `compression`, `comment` and `aspect`; a comment or
aspect not given comes from the image's meta, so an image read and written
again keeps both. A named output is written as imwrite writes it (whole, or
not at all).
"""

import io

import imageio
from imageio.core import Format
from imageio.core.request import URI_FILENAME

import picfile


def _name(request):
    """The file's name when the request is for a named file, else None."""
    return request.filename if getattr(request, "_uri_type", None) == URI_FILENAME else None


def _meta(pic):
    return {"comment": pic.comment, "aspect": pic.aspect}


class PicFormat(Format):
    """Softimage PIC images, 8 bits a channel, RGB or RGBA, read and
    written by picfile.

    Parameters for reading
    ----------------------
    strict : bool
        Raise picfile.PicError for a damaged file instead of a
        PicDamageWarning with its partial picture.
    max_pixels : int
        The most pixels an image may have.

    Parameters for saving
    ---------------------
    compression : {"rle", "raw"}
    comment : str or bytes
        At most 79 bytes; by default the image's meta["comment"].
    aspect : float
        The pixel ratio; by default the image's meta["aspect"], else 1.
    """

    def _can_read(self, request):
        return request.mode[1] in self.modes + "?" and picfile._core.starts_as_pic(
            request.firstbytes
        )

    def _can_write(self, request):
        return request.mode[1] in self.modes + "?" and request.extension in self.extensions

    class Reader(Format.Reader):
        def _open(self, strict=False, max_pixels=picfile.DEFAULT_MAX_PIXELS):
            self._options = {"strict": strict, "max_pixels": max_pixels}
            self._name = _name(self.request)
            self._data = None if self._name is not None else self.request.get_file().read()

        def _pic(self):
            source = self._name if self._name is not None else io.BytesIO(self._data)
            return picfile.PicFile(source, **self._options)

        def _close(self):
            self._data = None

        def _get_length(self):
            return 1

        def _get_data(self, index):
            if index != 0:
                raise IndexError(f"a PIC file holds one image, not image {index}")
            with self._pic() as pic:
                return pic.asarray(), _meta(pic)

        def _get_meta_data(self, index):
            with self._pic() as pic:
                return _meta(pic)

    class Writer(Format.Writer):
        def _open(self, compression="rle", comment=None, aspect=None):
            self._options = {"compression": compression, "comment": comment, "aspect": aspect}
            self._meta = {}
            self._written = False

        def _close(self):
            pass

        def _set_meta_data(self, meta):
            self._meta = dict(meta)

        def _append_data(self, image, meta):
            if self._written:
                raise RuntimeError("a PIC file holds one image")
            comment, aspect = picfile._carried({**self._meta, **meta})
            given = self._options
            name = _name(self.request)
            picfile.imwrite(
                name if name is not None else self.request.get_file(),
                image,
                compression=given["compression"],
                comment=comment if given["comment"] is None else given["comment"],
                aspect=aspect if given["aspect"] is None else given["aspect"],
            )
            self._written = True


imageio.formats.add_format(PicFormat("PIC", "Softimage PIC (picfile)", ".pic", "i"))

"""Softimage PIC for Pillow: importing this module registers the format.

    import picfile.pillow
    from PIL import Image
    image = Image.open("shot.pic")        # mode "RGB" or "RGBA"
    image.info["comment"], image.info["aspect"]
    image.verify()                        # decodes every row: OSError when damaged
    image.save("copy.pic", compression="raw", comment="take 2", aspect=1.0)

A damaged file behaves as a truncated image does in Pillow: loading it
raises OSError unless PIL.ImageFile.LOAD_TRUNCATED_IMAGES is true, and then
gives the partial picture with a picfile.PicDamageWarning. Saving keeps the
image's info["comment"] and info["aspect"] unless `comment` or `aspect` is
given: a PIC opened and saved again keeps both.
"""

import io
import warnings

import numpy
from PIL import Image, ImageFile

import picfile


def _accept(prefix):
    return picfile._core.starts_as_pic(bytes(prefix))


class PicImageFile(ImageFile.ImageFile):
    format = "PIC"
    format_description = "Softimage PIC"

    def _open(self):
        data = self.fp.read()
        try:
            pic = picfile.PicFile(io.BytesIO(data))
        except picfile.PicError as error:
            # Pillow takes SyntaxError as "not this format".
            raise SyntaxError(str(error)) from error
        mode = "RGBA" if pic.alpha else "RGB"
        if hasattr(self, "_mode"):
            self._mode = mode
        else:
            self.mode = mode
        self._size = (pic.width, pic.height)
        self.info["comment"] = pic.comment
        self.info["aspect"] = pic.aspect
        self._pic_data = data
        self.tile = []

    def verify(self):
        """Decodes every row, keeping no pixels: OSError when the file is
        damaged or has no pixels."""
        if self._pic_data is None:
            raise RuntimeError("verify must be called directly after open")
        try:
            picfile._verify(io.BytesIO(self._pic_data))
        except picfile.PicError as error:
            raise OSError(f"image file is not whole: {error}") from error

    def load(self):
        if self._pic_data is not None:
            data, self._pic_data = self._pic_data, None
            array, damage = picfile._imread_quietly(io.BytesIO(data))
            if damage is not None:
                if not ImageFile.LOAD_TRUNCATED_IMAGES:
                    raise OSError(f"image file is not whole: {damage}")
                warnings.warn(damage, stacklevel=2)
            self.im = Image.fromarray(array, self.mode).im
        return Image.Image.load(self)


def _save(image, fp, filename):
    if image.mode not in ("RGB", "RGBA"):
        raise OSError(f"cannot write mode {image.mode} as PIC (convert to RGB or RGBA)")
    options = image.encoderinfo
    comment, aspect = picfile._carried(image.info)
    data = picfile.imencode(
        numpy.asarray(image),
        compression=options.get("compression", "rle"),
        comment=options.get("comment", comment),
        aspect=options.get("aspect", aspect),
    )
    fp.write(data)


Image.register_open(PicImageFile.format, PicImageFile, _accept)
Image.register_save(PicImageFile.format, _save)
Image.register_extension(PicImageFile.format, ".pic")

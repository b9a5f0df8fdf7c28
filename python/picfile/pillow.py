"""Softimage PIC for Pillow: importing this module registers the format.

    import picfile.pillow
    from PIL import Image
    image = Image.open("shot.pic")        # mode "RGB" or "RGBA"
    image.info["comment"], image.info["aspect"]
    image.save("copy.pic", compression="raw", comment="take 2", aspect=1.0)

A damaged file behaves as a truncated image does in Pillow: loading it
raises OSError unless PIL.ImageFile.LOAD_TRUNCATED_IMAGES is true, and then
gives the partial picture with a picfile.PicDamageWarning.
"""

import io
import warnings

import numpy
from PIL import Image, ImageFile

import picfile

_MAGIC = b"\x53\x80\xf6\x34"


def _accept(prefix):
    return prefix[:4] == _MAGIC


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

    def load(self):
        if self._pic_data is not None:
            data, self._pic_data = self._pic_data, None
            array, damage = picfile._imread_quietly(io.BytesIO(data))
            if damage is not None:
                if not ImageFile.LOAD_TRUNCATED_IMAGES:
                    raise OSError(f"image file is damaged: {damage}")
                warnings.warn(damage, stacklevel=2)
            self.im = Image.fromarray(array, self.mode).im
        return Image.Image.load(self)


def _save(image, fp, filename):
    if image.mode not in ("RGB", "RGBA"):
        raise OSError(f"cannot write mode {image.mode} as PIC (convert to RGB or RGBA)")
    options = image.encoderinfo
    data = picfile.imencode(
        numpy.asarray(image),
        compression=options.get("compression", "rle"),
        comment=options.get("comment", ""),
        aspect=options.get("aspect", 1.0),
    )
    fp.write(data)


Image.register_open(PicImageFile.format, PicImageFile, _accept)
Image.register_save(PicImageFile.format, _save)
Image.register_extension(PicImageFile.format, ".pic")

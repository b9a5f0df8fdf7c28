"""Read and write Softimage PIC images as numpy arrays.

    >>> import picfile
    >>> pixels = picfile.imread("shot0001.pic")      # (H, W, 3) or (H, W, 4) uint8
    >>> picfile.imwrite("copy.pic", pixels, compression="rle", comment="take 2")
    >>> with picfile.PicFile("shot0001.pic") as pic:
    ...     print(pic.width, pic.height, pic.alpha, pic.check())

Every layout of packets is read (raw, pure and mixed run-length, any
channels); a channel no packet carries reads as 0, and the array has alpha
when some packet carries it. A damaged file gives what can be read of it
(rows after a run-length row that fails are 0; raw bytes past the end of the
file read as 255) with a PicDamageWarning, or raises PicError with
strict=True. Writing makes one of the two layouts the PIC.BMI driver writes.
Decoding and encoding release the GIL.
"""

import errno as _errno
import os
import warnings

import numpy

from picfile import _core

__all__ = [
    "imread",
    "imwrite",
    "imencode",
    "PicFile",
    "PicError",
    "PicDamageWarning",
    "DEFAULT_MAX_PIXELS",
]

DEFAULT_MAX_PIXELS = _core.DEFAULT_MAX_PIXELS
_COMPRESSIONS = {"rle": True, "raw": False}


class PicError(ValueError):
    """The data is no PIC image that can be read, or it is damaged (strict)."""


class PicDamageWarning(UserWarning):
    """A damaged file: the picture is whole only up to `row`.

    `row` is the first row that is not whole, `offset` the byte offset where
    its data begins, `reason` one of "cut short", "run past row end" and
    "zero count".
    """

    def __init__(self, message, row, offset, reason):
        super().__init__(message)
        self.row = row
        self.offset = offset
        self.reason = reason


def _source_of(source):
    """("path", str) or ("memory", bytes-like) for a path, bytes or file."""
    if isinstance(source, (str, os.PathLike)):
        return "path", os.fsdecode(source)
    if isinstance(source, (bytes, bytearray, memoryview)):
        return "memory", source
    if hasattr(source, "read"):
        return "memory", source.read()
    raise TypeError(f"expected a path, bytes or a binary file, not {type(source).__name__}")


def _name_of(kind, value):
    return value if kind == "path" else "<memory>"


def _raise_for(facts, kind, value):
    status = facts["status"]
    if status == "ok":
        return
    if status == "cannot open":
        code = facts["errno"] or _errno.EIO
        raise OSError(code, os.strerror(code), value)
    if status == "no memory":
        raise MemoryError("out of memory")
    prefix = f"{value}: " if kind == "path" else ""
    raise PicError(prefix + facts["error"])


def _check_directory(kind, value):
    # A folder opens for reading on POSIX and then reads nothing; say what it is.
    if kind == "path" and os.path.isdir(value):
        raise IsADirectoryError(_errno.EISDIR, os.strerror(_errno.EISDIR), value)


def _read(source, decode, max_pixels):
    kind, value = _source_of(source)
    _check_directory(kind, value)
    if kind == "path":
        facts, array = _core.read_file(os.fsencode(value), decode, max_pixels)
    else:
        facts, array = _core.read_memory(value, decode, max_pixels)
    _raise_for(facts, kind, value)
    return kind, value, facts, array


def _damage_warning(facts, kind, value):
    """The PicDamageWarning for a damaged image, else None."""
    if facts["damage"] is None:
        return None
    row, offset, reason, text = facts["damage"]
    message = (f"{value}: " if kind == "path" else "") + "damaged: " + text
    return PicDamageWarning(message, row, offset, reason)


def _damage(facts, kind, value, strict, stacklevel):
    warning = _damage_warning(facts, kind, value)
    if warning is None:
        return
    if strict:
        raise PicError(str(warning))
    warnings.warn(warning, stacklevel=stacklevel + 1)


def _imread_quietly(source, max_pixels=DEFAULT_MAX_PIXELS):
    """(array, PicDamageWarning or None): imread without the warnings
    machinery, whose catch_warnings is not safe in threads."""
    kind, value, facts, array = _read(source, True, max_pixels)
    return array, _damage_warning(facts, kind, value)


def imread(source, *, strict=False, max_pixels=DEFAULT_MAX_PIXELS):
    """The pixels of a PIC image as a C-contiguous uint8 array (H, W, 3|4).

    `source` is a path, bytes (or any bytes-like object) or a binary file.
    Raises PicError when it is no PIC image we read or holds more than
    `max_pixels` pixels, OSError when it cannot be opened. A damaged image
    gives its partial picture and a PicDamageWarning, or with strict=True
    raises PicError.
    """
    kind, value, facts, array = _read(source, True, max_pixels)
    _damage(facts, kind, value, strict, 2)
    return array


def _checked_array(array):
    if not isinstance(array, numpy.ndarray):
        array = numpy.asarray(array)
    if array.dtype != numpy.uint8:
        raise ValueError(
            f"expected a uint8 array, got {array.dtype}: convert it first "
            "(PIC holds 8 bits a channel)"
        )
    if array.ndim != 3 or array.shape[2] not in (3, 4):
        raise ValueError(f"expected shape (H, W, 3) or (H, W, 4), got {array.shape}")
    if array.shape[0] > _core.MAX_SIDE or array.shape[1] > _core.MAX_SIDE:
        raise ValueError(f"image of shape {array.shape} is wider or higher than 32767 pixels")
    return numpy.ascontiguousarray(array)


def _comment_bytes(comment):
    if isinstance(comment, str):
        comment = comment.encode("utf-8")
    elif isinstance(comment, (bytes, bytearray, memoryview)):
        comment = bytes(comment)
    else:
        raise TypeError(f"comment must be str or bytes, not {type(comment).__name__}")
    if len(comment) > _core.COMMENT_SIZE - 1:
        raise ValueError(f"comment is {len(comment)} bytes; a PIC comment holds at most 79")
    return comment


def _compressed(compression):
    if compression not in _COMPRESSIONS:
        raise ValueError(f'compression must be "rle" or "raw", not {compression!r}')
    return _COMPRESSIONS[compression]


def imwrite(path, array, *, compression="rle", comment="", aspect=1.0):
    """Writes a uint8 array (H, W, 3) or (H, W, 4) as a PIC file.

    RGB arrays make one RGB packet, RGBA arrays an RGB and an alpha packet,
    both run-length coded ("rle") or raw. `comment` (str as UTF-8, or bytes)
    is stored as given, at most 79 bytes; `aspect` is the pixel ratio. The
    file is written under a temporary name and moved into place when whole,
    so a failed write leaves an earlier file of that name as it was.
    """
    array = _checked_array(array)
    compressed = _compressed(compression)
    comment = _comment_bytes(comment)
    _core.write_file(os.fsencode(path), array, compressed, comment, float(aspect))


def imencode(array, *, compression="rle", comment="", aspect=1.0):
    """The bytes of a PIC file of `array`, as imwrite writes them."""
    array = _checked_array(array)
    return _core.encode(array, _compressed(compression), _comment_bytes(comment), float(aspect))


def _packets(facts):
    return [{"type": kind, "mask": mask} for kind, mask in facts["packets"]]


def check_facts(source, name=None):
    """What `pictool check --json` says of one file, as a dict.

    Keys: file, result (0; 13 for a bad header or no pixels, 2 when the file cannot be
    opened, 3 out of memory: then only file and result, and error), width,
    height, packets, rowsComplete, damage (None or {row, offset, reason}),
    trailingBytes.
    """
    kind, value = _source_of(source)
    shown = name if name is not None else _name_of(kind, value)
    if kind == "path":
        facts, _ = _core.read_file(os.fsencode(value), False, 0)
    else:
        facts, _ = _core.read_memory(value, False, 0)
    result = {"ok": 0, "cannot open": 2, "no memory": 3}.get(facts["status"], 13)
    out = {"file": shown, "result": result}
    if result != 0:
        out["error"] = facts["error"]
        return out
    damage = None
    if facts["damage"] is not None:
        row, offset, reason, _ = facts["damage"]
        damage = {"row": row, "offset": offset, "reason": reason}
    out.update(
        width=facts["width"],
        height=facts["height"],
        packets=_packets(facts),
        rowsComplete=facts["rowsComplete"],
        damage=damage,
        trailingBytes=facts["trailingBytes"],
    )
    return out


class PicFile:
    """A PIC image's header, its check and its pixels.

        with picfile.PicFile("shot.pic") as pic:
            pic.width, pic.height, pic.alpha, pic.packets, pic.comment, pic.aspect
            pic.check()    # as pictool check --json
            pic.asarray()  # as imread

    Opening reads the header only (PicError for a file we do not read,
    OSError when it cannot be opened); check() and asarray() read the rows.
    """

    def __init__(self, source, *, strict=False, max_pixels=DEFAULT_MAX_PIXELS):
        kind, value = _source_of(source)
        if kind == "memory":
            value = bytes(value)
        _check_directory(kind, value)
        facts = (
            _core.read_header_file(os.fsencode(value)) if kind == "path" else _core.read_header_memory(value)
        )
        _raise_for(facts, kind, value)
        self._kind, self._value = kind, value
        self._strict, self._max_pixels = strict, max_pixels
        self.width = facts["width"]
        self.height = facts["height"]
        self.packets = _packets(facts)
        self.alpha = any(mask & 0x10 for _, mask in facts["packets"])
        raw = facts["comment"]
        self.comment = raw.split(b"\0", 1)[0]
        self.aspect = facts["aspect"]
        self.closed = False

    @property
    def comment_text(self):
        return self.comment.decode("utf-8", errors="replace")

    @property
    def shape(self):
        return (self.height, self.width, 4 if self.alpha else 3)

    def _open(self):
        if self.closed:
            raise ValueError("I/O operation on closed PicFile")

    def check(self):
        self._open()
        return check_facts(self._value, None if self._kind == "path" else "<memory>")

    def asarray(self):
        self._open()
        kind, value, facts, array = _read(self._value, True, self._max_pixels)
        _damage(facts, kind, value, self._strict, 2)
        return array

    def close(self):
        self.closed = True
        self._value = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        name = self._value if self._kind == "path" and not self.closed else "<memory>"
        return f"<PicFile {name!r} {self.width} x {self.height} {'RGBA' if self.alpha else 'RGB'}>"

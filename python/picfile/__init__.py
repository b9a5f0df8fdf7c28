"""Read and write Softimage PIC images as numpy arrays.

    >>> import picfile
    >>> pixels = picfile.imread("shot0001.pic")      # (H, W, 3|4) uint8, uint16 if stored so
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
import io
import json
import os
import warnings

import numpy

from picfile import _core

__all__ = [
    "imread",
    "imwrite",
    "imencode",
    "imdecode",
    "PicFile",
    "PicError",
    "PicDamageWarning",
    "DEFAULT_MAX_PIXELS",
]

DEFAULT_MAX_PIXELS = _core.DEFAULT_MAX_PIXELS
_COMPRESSIONS = {"rle": True, "raw": False}

# Raised by the C++ half too, for a request no PIC image can answer.
PicError = _core.PicError
PicError.__module__ = __name__
PicError.__doc__ = "The data is no PIC image that can be read, has no pixels, or is damaged (strict)."


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


class _Source:
    """Where a PIC file is read from: a path (`value`: its bytes for the
    system, `name`: as text), or bytes in memory (`value`: a memoryview)."""

    def __init__(self, kind, value, name):
        self.kind, self.value, self.name = kind, value, name

    def prefix(self):
        """What an error message starts with: the file's name, if it has one."""
        return f"{self.name}: " if self.kind == "path" else ""


def _memory(data):
    """Any buffer-protocol object as a one-dimensional view of its bytes."""
    try:
        view = memoryview(data)
    except TypeError:
        raise TypeError(
            f"expected PIC data as a bytes-like object, not {type(data).__name__}"
        ) from None
    if not view.c_contiguous:
        view = memoryview(view.tobytes())
    return _Source("memory", view.cast("B"), "<memory>")


def _refuse_text_mode(file, what, mode):
    if isinstance(file, io.TextIOBase):
        name = f" {file.name!r}" if hasattr(file, "name") else ""
        raise TypeError(f"{what} takes a binary file, not the text-mode {type(file).__name__}"
                        f"{name}: open it with {mode!r}")


def _source_of(source, what):
    """A path (str, bytes or os.PathLike) or a binary file as a _Source.
    Bytes are a name, as os.listdir(b".") gives them: data in memory goes
    through imdecode or a binary file (io.BytesIO)."""
    if isinstance(source, _Source):
        return source
    if isinstance(source, (str, bytes, os.PathLike)):
        path = os.fsencode(source)
        return _Source("path", path, os.fsdecode(path))
    if hasattr(source, "read"):
        _refuse_text_mode(source, what, "rb")
        data = source.read()
        if isinstance(data, str):
            raise TypeError(f"{what} takes a binary file, but {type(source).__name__}.read() "
                            "gave str: open it with 'rb'")
        return _memory(data)
    try:
        memoryview(source)
        hint = "; for PIC data in memory use picfile.imdecode"
    except TypeError:
        hint = ""
    raise TypeError(f"{what} takes a path (str, bytes, os.PathLike) or a binary file, "
                    f"not {type(source).__name__}{hint}")


def _raise_for(facts, source):
    status = facts["status"]
    if status == "ok":
        return
    if status == "cannot open":
        code = facts["errno"] or _errno.EIO
        raise OSError(code, os.strerror(code), source.name)
    if status == "no memory":
        raise MemoryError("out of memory")
    raise PicError(source.prefix() + facts["error"])


def _check_directory(source):
    # A folder opens for reading on POSIX and then reads nothing; say what it is.
    if source.kind == "path" and os.path.isdir(source.value):
        raise IsADirectoryError(_errno.EISDIR, os.strerror(_errno.EISDIR), source.name)


def _facts(source, decode, max_pixels, **how):
    """(facts, array or None) of a _Source, as the C++ half answers them;
    `how`: stored=True for 16-bit values where the file stores them,
    salvage=True for the rows after damage."""
    if source.kind == "path":
        return _core.read_file(source.value, decode, max_pixels, **how)
    return _core.read_memory(source.value, decode, max_pixels, **how)


def _read(source, decode, max_pixels, what, **how):
    source = _source_of(source, what)
    _check_directory(source)
    facts, array = _facts(source, decode, max_pixels, **how)
    _raise_for(facts, source)
    return source, facts, array


def _damage_warning(facts, source):
    """The PicDamageWarning for a damaged image, else None."""
    if facts["damage"] is None:
        return None
    row, offset, reason, text = facts["damage"]
    if facts["salvage"] is not None:
        text += "; salvaged: " + facts["salvage"]
    return PicDamageWarning(source.prefix() + "damaged: " + text, row, offset, reason)


def _damage(facts, source, strict, stacklevel):
    warning = _damage_warning(facts, source)
    if warning is None:
        return
    if strict:
        raise PicError(str(warning))
    warnings.warn(warning, stacklevel=stacklevel + 1)


def _imread_quietly(source, max_pixels=DEFAULT_MAX_PIXELS):
    """(array, PicDamageWarning or None): imread without the warnings
    machinery, whose catch_warnings is not safe in threads."""
    source, facts, array = _read(source, True, max_pixels, "imread")
    return array, _damage_warning(facts, source)


def _verify(source):
    """Decodes every row of `source`, keeping no pixels: PicError unless it
    is a whole PIC image with pixels, OSError when it cannot be read."""
    source, facts, _ = _read(source, False, 0, "verify")
    _damage(facts, source, True, 1)


def imread(source, *, strict=False, max_pixels=DEFAULT_MAX_PIXELS, salvage=False):
    """The pixels of a PIC image as a C-contiguous array (H, W, 3|4): uint8,
    or uint16 with the values stored when some packet holds 16 bits.

    `source` is a path (str, bytes as os.listdir(b".") gives them, or
    os.PathLike) or a binary file. Bytes are a name, not the file's
    content: data in memory goes through imdecode.
    Raises PicError when it is no PIC image we read, has no pixels or holds
    more than `max_pixels` pixels, OSError when it cannot be opened. A
    damaged image gives its partial picture and a PicDamageWarning, or with
    strict=True raises PicError. With salvage=True the rows after a
    run-length row that does not decode are looked for and kept where they
    can be placed (rows lost stay 0, transparent black); the warning says
    what was found.
    """
    source, facts, array = _read(source, True, max_pixels, "imread", stored=True,
                                 salvage=salvage)
    _damage(facts, source, strict, 2)
    return array


def imdecode(data, *, strict=False, max_pixels=DEFAULT_MAX_PIXELS, salvage=False):
    """The pixels of the PIC file in `data`, as imread gives them: the
    inverse of imencode. `data` is any bytes-like object (bytes, bytearray,
    memoryview, mmap, a numpy buffer, ...)."""
    source, facts, array = _read(_memory(data), True, max_pixels, "imdecode", stored=True,
                                 salvage=salvage)
    _damage(facts, source, strict, 2)
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

    `path` is a path (str, bytes or os.PathLike) or a binary file. RGB
    arrays make one RGB packet, RGBA arrays an RGB and an alpha packet, both
    run-length coded ("rle") or raw. `comment` (str as UTF-8, or bytes) is
    stored as given, at most 79 bytes; `aspect` is the pixel ratio. An array
    of no pixels raises PicError. A named file is written under a temporary
    name and moved into place when whole, so a failed write leaves an
    earlier file of that name as it was.
    """
    array = _checked_array(array)
    compressed = _compressed(compression)
    comment = _comment_bytes(comment)
    if isinstance(path, (str, bytes, os.PathLike)):
        _core.write_file(os.fsencode(path), array, compressed, comment, float(aspect))
    elif hasattr(path, "write"):
        _refuse_text_mode(path, "imwrite", "wb")
        path.write(_core.encode(array, compressed, comment, float(aspect)))
    else:
        raise TypeError("imwrite takes a path (str, bytes, os.PathLike) or a binary file, "
                        f"not {type(path).__name__}")


def imencode(array, *, compression="rle", comment="", aspect=1.0):
    """The bytes of a PIC file of `array`, as imwrite writes them."""
    array = _checked_array(array)
    return _core.encode(array, _compressed(compression), _comment_bytes(comment), float(aspect))


def _carried(info):
    """(comment, aspect) of an image's metadata (Pillow's info, imageio's
    meta) as far as a PIC header holds them: a comment from another format
    that is longer than 79 bytes stays out, as does an aspect that is no
    number."""
    comment = info.get("comment", b"")
    if isinstance(comment, str):
        comment = comment.encode("utf-8")
    if not isinstance(comment, bytes) or len(comment) >= _core.COMMENT_SIZE:
        comment = b""
    aspect = info.get("aspect", 1.0)
    return comment, aspect if isinstance(aspect, (int, float)) else 1.0


def _packets(facts):
    return [{"type": kind, "mask": mask} for kind, mask in facts["packets"]]


def _check_line(source, name=None, salvage=False):
    """(line, whole): the line `pictool check --json` (with `salvage`,
    `--salvage`) writes for `source` (a path or a binary file), naming it
    `name`, and whether it is whole."""
    source = _source_of(source, "check")
    name = os.fsencode(name if name is not None else source.name)
    if source.kind == "path":
        return _core.check_line(source.value, name, salvage)
    return _core.check_memory_line(bytes(source.value), name, salvage)


def check_facts(source, name=None, *, salvage=False):
    """What `pictool check --json` says of one file, as a dict.

    `source` is a path (str, bytes or os.PathLike) or a binary file. Keys:
    file, result (0; 13 for a bad header or no pixels, 2 when the file
    cannot be opened, 3 out of memory: then only file and result, and
    error), width, height, packets, bits (8, or 16 when some packet holds
    16), rowsComplete, damage (None or {row, offset, reason}), trailingBytes;
    with salvage=True, as `pictool check --salvage --json`, also salvage
    (None, or {lostRows: [[first, last], ...], recoveredRows}): after a
    run-length row that does not decode, the rows after it are looked for.
    A salvaged file keeps its damage. A name that is not UTF-8 keeps its
    bytes as os.fsdecode gives them.
    """
    line, _ = _check_line(source, name, salvage)
    return json.loads(line)


class PicFile:
    """A PIC image's header, its check and its pixels.

        with picfile.PicFile("shot.pic") as pic:
            pic.width, pic.height, pic.alpha, pic.packets, pic.comment, pic.aspect
            pic.check()    # as pictool check --json; check(salvage=True)
            pic.asarray()  # as imread

    `source` is a path (str, bytes or os.PathLike) or a binary file, as for
    imread. Opening reads the header only (PicError for a file we do not
    read, OSError when it cannot be opened); check() and asarray() read the
    rows.
    """

    def __init__(self, source, *, strict=False, max_pixels=DEFAULT_MAX_PIXELS):
        source = _source_of(source, "PicFile")
        _check_directory(source)
        read_header = _core.read_header_file if source.kind == "path" else _core.read_header_memory
        facts = read_header(source.value)
        _raise_for(facts, source)
        self._source, self._name = source, source.name
        self._strict, self._max_pixels = strict, max_pixels
        self.width = facts["width"]
        self.height = facts["height"]
        self.packets = _packets(facts)
        self.alpha = facts["alpha"]
        self.comment = facts["comment"].split(b"\0", 1)[0]
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

    def check(self, salvage=False):
        """check_facts of the file: as pictool check --json (--salvage)."""
        self._open()
        return check_facts(self._source, salvage=salvage)

    def asarray(self):
        self._open()
        source, facts, array = _read(self._source, True, self._max_pixels, "PicFile", stored=True)
        _damage(facts, source, self._strict, 2)
        return array

    def close(self):
        self.closed = True
        self._source = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __repr__(self):
        return f"<PicFile {self._name!r} {self.width} x {self.height} {'RGBA' if self.alpha else 'RGB'}>"

#!/usr/bin/python3
"""What each reader keeps of damaged run-length PIC files: the files that
tests/salvage_test.cpp writes with PIC_SALVAGE_DUMP set, read by pictool's
reader with and without salvage (through picfile's C++ half is not needed:
the test prints those figures), by stb_image (bench's peer_load) and by
OpenImageIO, and by KImageFormats through Qt where it is installed. Counts,
per damage kind, the untouched rows each gives exactly as the original.

usage: salvage_peers.py DUMP_DIR PEER_LOAD
"""
import collections
import os
import subprocess
import sys
import tempfile

KINDS = ["flipped count byte", "flipped value byte", "inserted byte", "deleted byte",
         "burst of 16 bytes", "three flipped counts", "counts in first, last"]


def rows_of(pixels, channels, width, height):
    """The picture as rows of bytes, or None."""
    if pixels is None or len(pixels) != width * height * channels:
        return None
    step = width * channels
    return [pixels[y * step:(y + 1) * step] for y in range(height)]


def with_channels(rgba, channels):
    """RGBA bytes as RGB when the original has no alpha."""
    if rgba is None or channels == 4:
        return rgba
    return bytes(b for i, b in enumerate(rgba) if i % 4 != 3)


def read_stb(peer_load, path):
    with tempfile.NamedTemporaryFile() as out:
        done = subprocess.run([peer_load, path, out.name], capture_output=True, check=False)
        return out.read() if done.returncode == 0 else None


OIIO_SCRIPT = """
import sys
import OpenImageIO as oiio
image = oiio.ImageInput.open(sys.argv[1])
pixels = image.read_image(0, 0, 0, 4, oiio.UINT8) if image else None
if pixels is None:
    sys.exit(1)
sys.stdout.buffer.write(pixels.tobytes())
"""


def read_oiio(path):
    """In a process of its own: OpenImageIO crashes on some damaged files."""
    done = subprocess.run([sys.executable, "-c", OIIO_SCRIPT, path], capture_output=True,
                          check=False)
    return done.stdout if done.returncode == 0 else None


def read_qt(path):
    from PyQt5.QtGui import QImage, QImageReader
    image = QImageReader(path, b"pic").read()
    if image.isNull():
        return None
    image = image.convertToFormat(QImage.Format_RGBA8888)
    return bytes(image.constBits().asstring(image.sizeInBytes()))


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    folder, peer_load = sys.argv[1], sys.argv[2]
    readers = {"stb_image": lambda path: read_stb(peer_load, path)}
    try:
        import OpenImageIO  # noqa: F401
        readers["OpenImageIO"] = read_oiio
    except ImportError:
        print("OpenImageIO: not installed", file=sys.stderr)
    try:
        from PyQt5.QtGui import QImageReader
        if b"pic" in [bytes(f) for f in QImageReader.supportedImageFormats()]:
            readers["KImageFormats"] = read_qt
        else:
            print("KImageFormats: no pic plug-in for Qt", file=sys.stderr)
    except ImportError:
        print("KImageFormats: PyQt5 not installed", file=sys.stderr)
    kept = collections.defaultdict(lambda: collections.Counter())
    with open(os.path.join(folder, "manifest.txt"), encoding="ascii") as manifest:
        for line in manifest:
            name, channels, width, height, *touched = line.split()
            channels, width, height = int(channels), int(width), int(height)
            touched = {int(row) for row in touched}
            kind = KINDS[int(name.split("-")[2])]
            with open(os.path.join(folder, name + ".rgb"), "rb") as original:
                want = rows_of(original.read(), channels, width, height)
            path = os.path.join(folder, name + ".pic")
            kept[kind]["untouched"] += height - len(touched)
            for reader, read in readers.items():
                got = rows_of(with_channels(read(path), channels), channels, width, height)
                if got is None:
                    continue
                kept[kind][reader] += sum(1 for y in range(height)
                                          if y not in touched and got[y] == want[y])
    print("%-22s %10s" % ("damage", "untouched") +
          "".join(" %14s" % reader for reader in readers))
    for kind in KINDS:
        row = kept[kind]
        print("%-22s %10d" % (kind, row["untouched"]) +
              "".join(" %13.2f%%" % (100.0 * row[r] / max(row["untouched"], 1)) for r in readers))
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Shared helpers: PIC files of any layout built byte by byte (as the C++
tests' layout_files.cpp builds them), pictool from the build, and paths for
worker processes."""

import os
import struct
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
# Worker processes of a local cluster import the tests' task helpers.
os.environ["PYTHONPATH"] = os.pathsep.join(
    [HERE] + [part for part in os.environ.get("PYTHONPATH", "").split(os.pathsep) if part]
)
# A loaded machine may take long to start a worker process; the default 30 s
# for a connection is Dask's guess for a quiet one.
os.environ.setdefault("DASK_DISTRIBUTED__COMM__TIMEOUTS__CONNECT", "120s")
os.environ.setdefault("DASK_DISTRIBUTED__COMM__TIMEOUTS__TCP", "120s")
if HERE not in sys.path:
    sys.path.insert(0, HERE)

MAGIC = 0x5380F634

# Layouts: (type, mask) per packet; types 0 raw, 1 pure, 2 mixed run-length.
LAYOUTS = {
    "raw RGB": [(0, 0xE0)],
    "raw RGB + raw A": [(0, 0xE0), (0, 0x10)],
    "mixed RGB + mixed A": [(2, 0xE0), (2, 0x10)],
    "raw RGBA": [(0, 0xF0)],
    "pure RGBA": [(1, 0xF0)],
    "mixed A + mixed RGB": [(2, 0x10), (2, 0xE0)],
    "one packet per channel": [(2, 0x80), (1, 0x40), (0, 0x20)],
    "no blue": [(0, 0xC0)],
}


def layout_value(x, y, channel):
    if x % 17 >= 12:
        return (x * 131 + y * 7 + channel * 29) & 255
    return ((x // 3) * 37 + y * 11 + channel * 71) & 255


def _channels(mask):
    return [c for c in range(4) if mask & (0x80 >> c)]


def _run(row, x, most):
    length = 1
    while x + length < len(row) and length < most and row[x + length] == row[x]:
        length += 1
    return length


def _mixed(row):
    out = bytearray()
    x = 0
    while x < len(row):
        run = _run(row, x, 65535)
        if run >= 2:
            out += bytes([127 + run]) if run <= 128 else bytes([128]) + struct.pack(">H", run)
            out += bytes(row[x])
            x += run
            continue
        literal = 1
        while x + literal < len(row) and literal < 128 and _run(row, x + literal, 2) < 2:
            literal += 1
        out.append(literal - 1)
        for pixel in row[x : x + literal]:
            out += bytes(pixel)
        x += literal
    return bytes(out)


def _pure(row):
    out = bytearray()
    x = 0
    while x < len(row):
        run = _run(row, x, 255)
        out += bytes([run]) + bytes(row[x])
        x += run
    return bytes(out)


def header_bytes(width, height, packets, comment=b"", aspect=1.0):
    head = struct.pack(
        ">II80s4sHHfHH", MAGIC, 0x406CCCCD, comment, b"PICT", width, height, aspect, 3, 0
    )
    for index, (kind, mask) in enumerate(packets):
        head += bytes([1 if index + 1 < len(packets) else 0, 8, kind, mask])
    return head


def layout_file(width, height, packets):
    """(bytes, row starts): a PIC file whose pixels are layout_value."""
    data = bytearray(header_bytes(width, height, packets))
    starts = []
    for y in range(height):
        starts.append(len(data))
        for kind, mask in packets:
            row = [tuple(layout_value(x, y, c) for c in _channels(mask)) for x in range(width)]
            if kind == 0:
                data += b"".join(bytes(pixel) for pixel in row)
            else:
                data += _mixed(row) if kind == 2 else _pure(row)
    starts.append(len(data))
    return bytes(data), starts


@pytest.fixture(scope="session")
def pictool():
    folder = os.environ.get("PICFILE_BIN")
    path = os.path.join(folder, "pictool") if folder else None
    if not path or not os.path.exists(path):
        pytest.skip("pictool is not built beside the package (set PICFILE_BIN)")
    return path


def run_pictool(pictool, *arguments):
    return subprocess.run([pictool, *arguments], capture_output=True, text=True, check=False)


def read_pam(path):
    """(depth, bytes) of a binary PAM file as pictool writes it."""
    with open(path, "rb") as file:
        data = file.read()
    head, _, body = data.partition(b"ENDHDR\n")
    fields = dict(line.split(b" ", 1) for line in head.splitlines()[1:] if b" " in line)
    return int(fields[b"DEPTH"]), body

#!/usr/bin/python3
"""pictool as its users see it: `info` (plain and --json) on PIC files built
byte by byte here, as other software writes them, on files that are not PIC
files, on missing files; `about`; the help; every usage error; and its
outputs under interrupts, planted links and failing standard output.

usage: pictool_test.py [--emulator PROGRAM] PICTOOL [unittest arguments...]
With --emulator (e.g. wine) pictool is a Windows program run through it.
"""
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest


PICTOOL = None
EMULATOR = []

INFO_KEYS = ["file", "result", "width", "height", "aspect", "gamma", "type", "bits",
             "firstFrame", "lastFrame", "withAlpha", "rgbCompressed", "alphaCompressed", "comment"]


# --- PIC files, byte by byte ------------------------------------------------

def pic_header(width, height, comment=b"", ratio=1.0, ratio_bits=None):
    """Bytes 0-103: magic, version 3.7, comment, PICT, size, ratio, fields, pad."""
    comment_field = (comment + bytes(80))[:80]
    ratio_field = (struct.pack(">I", ratio_bits) if ratio_bits is not None
                   else struct.pack(">f", ratio))
    return (bytes([0x53, 0x80, 0xF6, 0x34, 0x40, 0x6C, 0xCC, 0xCD]) + comment_field + b"PICT"
            + struct.pack(">HH", width, height) + ratio_field + struct.pack(">hh", 3, 0))


def packet(chained, kind, channel):
    return bytes([chained, 8, kind, channel])


RAW, RLE = 0, 2
RGB, ALPHA = 0xE0, 0x10

# 4 x 2 RGBA, both channels in the mixed run-length form.
MIXED_COMMENT = b'caf\xe9 "quoted" back\\slash \x01\x1f \xff'
MIXED_RGBA = (pic_header(4, 2, MIXED_COMMENT, ratio=1.25)
              + packet(1, RLE, RGB) + packet(0, RLE, ALPHA)
              # row 0: run of 2, literal of 2 | alpha long run of 4
              + bytes([0x81, 10, 20, 30, 0x01, 1, 2, 3, 4, 5, 6]) + bytes([0x80, 0, 4, 0xFF])
              # row 1: long run of 4 | alpha literal of 4
              + bytes([0x80, 0, 4, 7, 8, 9]) + bytes([0x03, 0, 64, 128, 255]))

# 3 x 1 RGB raw, with an 80-byte comment that has no zero byte.
# What the driver writes before a user's comment.
DRIVER_PREFIX = b"Created with Dorvanquil PIC Driver:"
FULL_COMMENT = bytes(range(0x41, 0x41 + 26)) * 3 + b"!?"
RAW_RGB = (pic_header(3, 1, FULL_COMMENT, ratio=0.75) + packet(0, RAW, RGB)
           + bytes(range(9)))

# 2 x 1 RGBA: raw colour, compressed alpha.
RAW_COLOUR_RLE_ALPHA = (pic_header(2, 1, b"mixed layout") + packet(1, RAW, RGB)
                        + packet(0, RLE, ALPHA) + bytes(6) + bytes([0x81, 9]))

NAN_BITS, INFINITY_BITS = 0x7FC00000, 0x7F800000


def options_block(with_alpha=1, rgb_compressed=1, alpha_compressed=1, comment=b""):
    return (struct.pack("<Iiii", 0x406CCCCD, with_alpha, rgb_compressed, alpha_compressed)
            + (comment + bytes(80))[:80])


# --- running pictool ----------------------------------------------------------

def host_path(path):
    """A path as pictool receives it: under Wine, the Z: drive's form."""
    if EMULATOR and os.path.isabs(path):
        return "Z:" + path.replace("/", "\\")
    return path


class Run:
    def __init__(self, completed):
        self.status = completed.returncode
        self.out = completed.stdout.replace("\r\n", "\n")
        self.err = completed.stderr.replace("\r\n", "\n")
        self.err_lines = self.err.splitlines()

    def json_lines(self):
        return [json.loads(line) for line in self.out.splitlines()]


class PictoolTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="pictool-test-")
        self.addCleanup(self.folder.cleanup)

    def write(self, name, data):
        with open(os.path.join(self.folder.name, name), "wb") as out:
            out.write(data)
        return name

    def pictool(self, *arguments):
        completed = subprocess.run(EMULATOR + [PICTOOL] + list(arguments), cwd=self.folder.name,
                                   capture_output=True, text=True, encoding="latin-1",
                                   timeout=120)
        return Run(completed)

    def info_json(self, *arguments):
        run = self.pictool("info", "--json", *arguments)
        return run, run.json_lines()

    def format_lines(self):
        """The lines of `convert --help` that name a format and its extensions."""
        text = self.pictool("convert", "--help").out.split("Formats of this pictool")[1]
        return [line for line in text.split("\n\n")[0].splitlines()[1:]
                if line.startswith("  ") and not line.startswith("   ")]

    def assert_usage_error(self, run):
        self.assertEqual(run.status, 2, run.err)
        self.assertEqual(run.out, "")
        self.assertEqual(len(run.err_lines), 1, run.err)
        self.assertTrue(run.err.startswith("pictool: ") and "--help" in run.err, run.err)


class InfoJson(PictoolTest):
    def test_mixed_run_length_rgba_with_a_high_byte_comment(self):
        run, objects = self.info_json(self.write("mixed.pic", MIXED_RGBA))
        self.assertEqual((run.status, run.err), (0, ""))
        self.assertEqual(len(objects), 1)
        self.assertEqual(list(objects[0].keys()), INFO_KEYS)
        self.assertEqual(objects[0], {
            "file": "mixed.pic", "result": 0, "width": 4, "height": 2, "aspect": 1.25,
            "gamma": 1, "type": 6, "bits": 8, "firstFrame": 0, "lastFrame": 0, "withAlpha": 1,
            "rgbCompressed": 1, "alphaCompressed": 1,
            "comment": MIXED_COMMENT.decode("latin-1")})
        # Bytes above 0x7F travel as \u00XX escapes: the line itself is ASCII.
        self.assertIn("caf\\u00E9", run.out)
        self.assertTrue(all(ord(c) < 0x80 for c in run.out))

    def test_layouts_come_from_each_files_packets(self):
        cases = [
            ("raw.pic", RAW_RGB, dict(width=3, height=1, aspect=0.75, type=8, withAlpha=0,
                                      rgbCompressed=0, alphaCompressed=1,
                                      comment=FULL_COMMENT.decode())),
            ("split.pic", RAW_COLOUR_RLE_ALPHA, dict(type=6, withAlpha=1, rgbCompressed=0,
                                                     alphaCompressed=1,
                                                     comment="mixed layout")),
            ("big.pic", pic_header(65535, 32768) + packet(0, RLE, RGB),
             dict(width=65535, height=32768, type=8, rgbCompressed=1)),
            ("combined.pic", pic_header(1, 1) + packet(0, RAW, 0xF0),
             dict(type=6, withAlpha=1, rgbCompressed=0, alphaCompressed=0)),
        ]
        names = [self.write(name, data) for name, data, _ in cases]
        run, objects = self.info_json(*names)
        self.assertEqual((run.status, run.err), (0, ""))
        self.assertEqual([o["file"] for o in objects], names)
        for (name, _, expected), found in zip(cases, objects):
            for key, value in expected.items():
                self.assertEqual(found[key], value, "%s: %s" % (name, key))

    def test_streams_and_long_names_read_as_files_do(self):
        """info, check and convert through -, /dev/stdin, a FIFO, process
        substitution and a path longer than the host's name field."""
        if EMULATOR or os.name != "posix":
            self.skipTest("pipes and FIFOs of Linux")
        name = self.write("mixed.pic", MIXED_RGBA)
        folder = os.path.join(self.folder.name, "d" * 200, "e" * 200)
        os.makedirs(folder)
        long_name = os.path.join(folder, "mixed.pic")
        self.assertGreater(len(long_name), 260)
        with open(long_name, "wb") as out:
            out.write(MIXED_RGBA)
        os.mkfifo(os.path.join(self.folder.name, "fifo"))
        commands = {"info": ["info", "--json"], "check": ["check", "--json"],
                    "convert": ["convert", "-", "--to", "pam"]}
        # Written there too, by a driver that is handed the folder's shorter name.
        self.write("mixed1.pic", MIXED_RGBA)
        for source, output, *frames in (("mixed.pic", "copy.pic"),
                                        ("mixed%d.pic", "numbered.pic", "--frames", "1-1")):
            run = self.pictool("convert", source, os.path.join(folder, output), *frames)
            self.assertEqual(run.status, 0, run.err)
        for output in ("copy.pic", "numbered0001.pic"):
            _, (found,) = self.info_json(os.path.join(folder, output))
            self.assertEqual((found["width"], found["height"]), (4, 2))
        for command, arguments in commands.items():
            expected = self.pictool(*arguments[:1], name, *arguments[1:]).out
            for way in ("-", "/dev/stdin", "fifo", "<(cat mixed.pic)", long_name):
                with self.subTest(command=command, way=way):
                    line = " ".join([PICTOOL, arguments[0], way] + arguments[1:])
                    if way == "fifo":
                        line = "cat mixed.pic > fifo & " + line
                    completed = subprocess.run(
                        ["bash", "-c", line + (" < mixed.pic" if way in ("-", "/dev/stdin") else "")],
                        cwd=self.folder.name, capture_output=True, timeout=60)
                    self.assertEqual(completed.returncode, 0, completed.stderr)
                    found = completed.stdout.decode("latin-1")
                    if command == "convert":
                        self.assertEqual(found, expected)
                    else:
                        self.assertEqual(json.loads(found), dict(json.loads(expected), file=way
                                                                 if "<" not in way else
                                                                 json.loads(found)["file"]))

    def test_the_comment_stops_at_its_first_zero_byte(self):
        data = pic_header(1, 1, b"before\0after") + packet(0, RAW, RGB) + bytes(3)
        _, objects = self.info_json(self.write("zero.pic", data))
        self.assertEqual(objects[0]["comment"], "before")

    def test_non_finite_aspect_is_null(self):
        for bits in (NAN_BITS, INFINITY_BITS):
            data = pic_header(1, 1, ratio_bits=bits) + packet(0, RAW, RGB) + bytes(3)
            run, objects = self.info_json(self.write("odd.pic", data))
            self.assertEqual(run.status, 0)
            self.assertIsNone(objects[0]["aspect"], hex(bits))
            self.assertIn('"aspect":null', run.out)

    def test_unreadable_files_say_why(self):
        """The same words from info, check and convert for every file not read."""
        short = (pic_header(1, 1) + packet(0, RAW, RGB))[:100]
        pam = b"P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n" + bytes(3)
        os.mkdir(os.path.join(self.folder.name, "folder.pic"))
        cases = [("text.pic", b"x" * 200, 13, "not a PIC file"),
                 ("short.pic", short, 13, "file ends inside the header"),
                 ("empty.pic", b"", 13, "file ends inside the header"),
                 ("chain.pic", pic_header(1, 1) + packet(1, RAW, RGB), 13,
                  "file ends inside the channel packets"),
                 ("image.pic", pam, 13, "not a PIC file (a PAM image)"),
                 ("folder.pic", None, None, "is a directory"),
                 ("missing.pic", None, 2, "no such file or directory")]
        if not EMULATOR:  # a name longer than the system takes
            cases.append(("x" * 300, None, 2, "file name too long"))
        names = [self.write(name, data) if data is not None else name
                 for name, data, _, _ in cases]
        run, objects = self.info_json(*names, self.write("mixed.pic", MIXED_RGBA))
        self.assertEqual(run.status, 1)
        self.assertEqual([(o["file"], o["error"]) for o in objects[:-1]],
                         [(n, e) for n, _, _, e in cases])
        self.assertEqual([o["result"] for o, (_, _, r, _) in zip(objects, cases) if r],
                         [r for _, _, r, _ in cases if r])
        self.assertEqual(objects[-1]["result"], 0)
        self.assertEqual(run.err_lines, ["pictool: %s: %s" % (n, e) for n, _, _, e in cases])
        check = self.pictool("check", "--json", *names)
        self.assertEqual(check.status, 1)
        self.assertEqual([(o["file"], o["error"]) for o in check.json_lines()],
                         [(n, e) for n, _, _, e in cases])
        self.assertEqual(self.pictool("check", *names).out.splitlines()[:-1],
                         ["%s: %s" % (n, e) for n, _, _, e in cases])
        # convert says what to do with an image of another format.
        cases[4] = cases[4][:3] + ("input is a PAM; the output must be .pic",)
        for name, _, _, error in cases:
            run = self.pictool("convert", name, "out.pam")
            self.assertEqual((run.status, run.err_lines), (1, ["pictool: %s: %s" % (name, error)]))

    def test_utf8_names_and_comments_pass_through(self):
        comment = "caf\u00e9 \u20ac".encode()
        name = "b.pic" if EMULATOR else "caf\u00e9.pic"
        self.write(name, pic_header(1, 1, comment) + packet(0, RAW, RGB) + bytes(3))
        run, objects = self.info_json(name)
        self.assertEqual(run.status, 0, run.err)
        # pictool's output is read as Latin-1: UTF-8 comes back byte for byte.
        self.assertEqual(objects[0]["comment"].encode("latin-1"), comment)
        self.assertEqual(objects[0]["file"].encode("latin-1"), name.encode())

    def test_awkward_names_are_escaped(self):
        # Windows forbids the quote in a file name.
        name = self.write("-a b.pic" if EMULATOR else '-a "b".pic', RAW_RGB)
        run, objects = self.info_json("--", name)
        self.assertEqual(run.status, 0, run.err)
        self.assertEqual(objects[0]["file"], name)


class InfoOptions(PictoolTest):
    def test_the_block_is_loaded_before_the_read(self):
        block = self.write("options.bin", options_block(alpha_compressed=0, rgb_compressed=5))
        rgb = self.write("raw.pic", RAW_RGB)
        alpha_only = self.write("alpha.pic", pic_header(1, 1) + packet(0, RLE, ALPHA))
        _, objects = self.info_json("--options", block, rgb, alpha_only)
        # An RGB file has no alpha packet: alphaCompressed keeps the block's 0.
        self.assertEqual((objects[0]["rgbCompressed"], objects[0]["alphaCompressed"]), (0, 0))
        # A file with only an alpha packet keeps the block's colour flag.
        self.assertEqual((objects[1]["rgbCompressed"], objects[1]["alphaCompressed"]), (5, 1))
        self.assertEqual(objects[1]["withAlpha"], 1)

    def test_blocks_that_cannot_be_used_are_usage_errors(self):
        cases = {"short.bin": options_block()[:95], "long.bin": options_block() + b"\0",
                 "zero.bin": bytes(96),
                 "swapped.bin": bytes([0x40, 0x6C, 0xCC, 0xCD]) + options_block()[4:]}
        pic = self.write("raw.pic", RAW_RGB)
        for name, data in cases.items():
            run = self.pictool("info", "--options", self.write(name, data), pic)
            self.assert_usage_error(run)
            self.assertIn(name, run.err)
        self.assert_usage_error(self.pictool("info", "--options", "absent.bin", pic))


class InfoPlain(PictoolTest):
    def test_describes_each_file_for_people(self):
        run = self.pictool("info", self.write("mixed.pic", MIXED_RGBA),
                           self.write("raw.pic", RAW_RGB))
        self.assertEqual((run.status, run.err), (0, ""))
        mixed, raw = run.out.split("raw.pic\n")
        self.assertIn("4 x 2", mixed)
        self.assertIn("1.25", mixed)
        self.assertIn("32-bit RGBA", mixed)
        self.assertIn("colour RLE, alpha RLE", mixed)
        self.assertIn('caf\\xE9 "quoted" back\\x5Cslash \\x01\\x1F \\xFF', mixed)
        self.assertIn("24-bit RGB", raw)
        self.assertIn("colour raw\n", raw)
        self.assertIn(FULL_COMMENT.decode(), raw)

    def test_failures_go_to_stderr_only(self):
        run = self.pictool("info", self.write("text.pic", b"not a picture"))
        self.assertEqual((run.status, run.out), (1, ""))
        self.assertEqual(run.err_lines, ["pictool: text.pic: not a PIC file"])


class Check(PictoolTest):
    def test_whole_damaged_and_unreadable_files(self):
        cut = MIXED_RGBA[:-3]  # row 1's alpha literal loses its last 3 bytes
        pure = pic_header(3, 1) + packet(0, 1, 0xF0) + bytes([2, 1, 2, 3, 4, 0, 5, 6, 7, 8])
        names = [self.write("mixed.pic", MIXED_RGBA + b"xy"), self.write("cut.pic", cut),
                 self.write("zero.pic", pure), self.write("bad.pic", b"PIC?"), "missing.pic",
                 self.write("none.pic", pic_header(480, 0) + packet(0, RAW, RGB))]
        run = self.pictool("check", "--json", *names)
        self.assertEqual((run.status, run.err), (1, ""))
        objects = run.json_lines()
        self.assertEqual(objects[0], {
            "file": "mixed.pic", "result": 0, "width": 4, "height": 2,
            "packets": [{"type": 2, "mask": 0xE0}, {"type": 2, "mask": 0x10}], "bits": 8,
            "rowsComplete": 2, "damage": None, "trailingBytes": 2})
        self.assertEqual(objects[1]["damage"], {"row": 1, "offset": 112 + 15, "reason": "cut short"})
        self.assertEqual(objects[1]["rowsComplete"], 1)
        self.assertEqual(objects[2]["damage"], {"row": 0, "offset": 108, "reason": "zero count"})
        self.assertEqual(objects[3], {"file": "bad.pic", "result": 13, "error": "not a PIC file"})
        self.assertEqual(list(objects[4].keys()), ["file", "result", "error"])
        self.assertEqual(objects[5], {"file": "none.pic", "result": 13,
                                      "error": "no pixels: 480 x 0"})

        plain = self.pictool("check", names[0], names[1])
        self.assertEqual(plain.status, 1)
        self.assertEqual(plain.out.splitlines(), [
            "mixed.pic: 4 x 2, 8-bit, mixed RGB + mixed A: ok (2 bytes after the last row)",
            "cut.pic: 4 x 2, 8-bit, mixed RGB + mixed A: cut short in row 1 of 2 (offset 127)",
            "1 of 2 files whole"])
        self.assertEqual(self.pictool("check", names[0]).status, 0)
        self.assert_usage_error(self.pictool("check"))
        self.assert_usage_error(self.pictool("check", "--bogus", names[0]))


# 3 x 2 RGBA, raw, aspect 2, a comment: every value exact somewhere below.
ROUND_PIXELS = [(0, 0, 0, 0), (255, 255, 255, 255), (1, 128, 254, 128),
                (200, 100, 50, 255), (7, 8, 9, 0), (250, 3, 128, 64)]
ROUND_TRIP = (pic_header(3, 2, DRIVER_PREFIX + b"shot 42", ratio=2.0)
              + packet(1, RAW, RGB) + packet(0, RAW, ALPHA)
              + b"".join(bytes(p[:3]) for p in ROUND_PIXELS[:3]) + bytes(p[3] for p in ROUND_PIXELS[:3])
              + b"".join(bytes(p[:3]) for p in ROUND_PIXELS[3:]) + bytes(p[3] for p in ROUND_PIXELS[3:]))


def tool(*arguments):
    """Another program's output, or None where it is not installed."""
    try:
        return subprocess.run(arguments, capture_output=True, text=True, encoding="latin-1",
                              timeout=60).stdout
    except FileNotFoundError:
        return None


def pillow_pixels(path):
    from PIL import Image
    with Image.open(path) as image:
        return [tuple(p) for p in image.convert("RGBA").getdata()]


def oiio_pixels(path):
    """EXR or TIFF as floats, read by OpenImageIO, brought back to bytes."""
    import OpenImageIO
    data = OpenImageIO.ImageBuf(path).get_pixels(OpenImageIO.FLOAT)
    return [tuple(int(round(v * 255)) for v in pixel) for row in data for pixel in row]


class RoundTrips(PictoolTest):
    """Our PIC to each format, read back by another reader and by pictool."""

    def test_pixels_and_metadata_survive_every_format(self):
        self.write("in.pic", ROUND_TRIP)
        formats = " ".join(self.format_lines()) + " "
        cases = [  # extension, options, pixel reader, metadata check, its words
            ("png", [], pillow_pixels, ["pngcheck", "-vt"], ["1x2 pixels/unit", "shot 42"]),
            ("png", ["--depth", "16"], pillow_pixels, ["pngcheck", "-v"], ["64-bit RGB+alpha"]),
            # Associated alpha: OpenImageIO reads the bytes as stored (Pillow would
            # divide them by alpha).
            ("tif", [], oiio_pixels, ["tiffinfo"], ["ImageDescription: shot 42",
                                                       "Resolution: 1, 2 (unitless)",
                                                       "Extra Samples: 1<assoc-alpha>"]),
            ("tif", ["--depth", "16"], None, ["tiffinfo"], ["Bits/Sample: 16"]),
            ("exr", [], oiio_pixels, ["exrheader"], ['comments (type string): "shot 42"',
                                                        "pixelAspectRatio (type float): 2",
                                                        "16-bit floating-point"]),
            # JPEG is lossy (and 3 x 2 pixels of strong colour suffer): metadata only.
            ("jpg", ["--quality", "100"], None, ["identify", "-verbose"],
             ["comment: shot 42"]),
            ("pam", [], None, None, []),
        ]
        for extension, options, reader, checker, expected in cases:
            if "." + extension + " " not in formats:
                continue  # not in this build
            with self.subTest(extension=extension, options=options):
                out = "out." + extension
                run = self.pictool("convert", "in.pic", out, *options)
                self.assertEqual((run.status, run.err), (0, ""))
                path = os.path.join(self.folder.name, out)
                if reader is not None and not EMULATOR:
                    try:
                        pixels = reader(path)
                    except ImportError:
                        pixels = None
                    if pixels is not None:
                        self.assertEqual(pixels, ROUND_PIXELS)
                report = tool(*checker, path) if checker and not EMULATOR else None
                for text in expected if report is not None else []:
                    self.assertIn(text, report)
                # And back: pixels exact (JPEG aside), aspect and comment as they were,
                # with one driver prefix.
                back = self.pictool("convert", out, "back.pic", "--json")
                self.assertEqual(back.status, 0, back.err)
                if extension == "jpg":
                    continue
                self.assertEqual(self.pictool("convert", "back.pic", "-", "--to", "pam").out,
                                 self.pictool("convert", "in.pic", "-", "--to", "pam").out)
                _, objects = self.info_json("back.pic")
                if extension != "pam":
                    self.assertEqual((objects[0]["aspect"], objects[0]["comment"]),
                                     (2, DRIVER_PREFIX.decode() + "shot 42"))
                    self.assertEqual(json.loads(back.out)["carried"], ["aspect", "comment"])

    def test_files_other_writers_make(self):
        """TIFF layouts by tiffcp, float TIFF by Pillow, float Y + A EXR by OpenImageIO."""
        if EMULATOR or "TIFF" not in " ".join(self.format_lines()):
            self.skipTest("no TIFF in this build")
        self.write("in.pic", ROUND_TRIP)
        self.assertEqual(self.pictool("convert", "in.pic", "in.tif").status, 0)
        floats = [-0.5, 1 / 255, 0.5, 0.999, 1.5, float("nan")]
        grey = [0, 1, 128, 255, 255, 0]  # clamped to [0, 1], times 255, rounded

        def tiffcp(*options):
            return tool("tiffcp", *options, os.path.join(self.folder.name, "in.tif"),
                        os.path.join(self.folder.name, "out.tif"))

        def float_tiff():
            import numpy
            from PIL import Image
            Image.fromarray(numpy.array(floats, numpy.float32).reshape(2, 3), "F").save(
                os.path.join(self.folder.name, "out.tif"))

        def float_exr():
            import numpy
            import OpenImageIO
            spec = OpenImageIO.ImageSpec(3, 2, 2, OpenImageIO.FLOAT)
            spec.channelnames = ("Y", "A")
            out = OpenImageIO.ImageOutput.create("out.exr")
            out.open(os.path.join(self.folder.name, "out.exr"), spec)
            out.write_image(numpy.array([v for f in floats for v in (f, 0.5)],
                                        numpy.float32).reshape(2, 3, 2))
            out.close()

        exact = [value for pixel in ROUND_PIXELS for value in pixel]
        cases = [  # name, make it, file, the PIC's pixels as RGBA bytes
            ("planar strips", lambda: tiffcp("-p", "separate", "-r", "1"), "out.tif", exact),
            ("tiles, LZW", lambda: tiffcp("-t", "-w", "16", "-l", "16", "-c", "lzw"),
             "out.tif", exact),
            ("planar tiles", lambda: tiffcp("-p", "separate", "-t", "-c", "none"), "out.tif",
             exact),
            ("float grey TIFF", float_tiff, "out.tif",
             [v for g in grey for v in (g, g, g, 255)]),
            ("float Y + A EXR", float_exr, "out.exr",
             [v for g in grey for v in (g, g, g, 128)]),
        ]
        for name, make, made, pixels in cases:
            with self.subTest(name):
                try:
                    if make() is None and name.startswith(("planar", "tiles")):
                        self.skipTest("no tiffcp")
                except ImportError:
                    self.skipTest("no numpy, Pillow or OpenImageIO")
                run = self.pictool("convert", made, "back.pic", "--alpha")
                self.assertEqual((run.status, run.err), (0, ""))
                pam = self.pictool("convert", "back.pic", "-", "--to", "pam").out
                self.assertEqual(list(pam.encode("latin-1").split(b"ENDHDR\n")[1]), pixels)

    def test_pic_to_pic_keeps_the_header_unless_told(self):
        self.write("in.pic", ROUND_TRIP)
        cases = [([], dict(rgbCompressed=0, withAlpha=1, aspect=2, comment=":shot 42")),
                 (["--rle", "--no-alpha"], dict(rgbCompressed=1, withAlpha=0)),
                 (["--comment", "new", "--aspect", "0.5"], dict(aspect=0.5, comment=":new"))]
        for options, expected in cases:
            with self.subTest(options=options):
                run = self.pictool("convert", "in.pic", "out.pic", *options)
                self.assertEqual((run.status, run.err), (0, ""))
                _, objects = self.info_json("out.pic")
                for key, value in expected.items():
                    found = objects[0][key]
                    if key == "comment":
                        self.assertTrue(found.endswith(value) and found.count(":") == 1, found)
                    else:
                        self.assertEqual(found, value, key)

    def test_premult_and_unpremult(self):
        self.write("in.pic", ROUND_TRIP)
        run = self.pictool("convert", "in.pic", "-", "--to", "pam", "--unpremult")
        self.assertEqual(run.status, 0, run.err)
        pixels = run.out.encode("latin-1").split(b"ENDHDR\n")[1]
        # alpha 0 and 255 leave colour; 128: 1 -> 2, 128 -> 255, 254 -> 255; 64: 250 -> 255 ...
        self.assertEqual(list(pixels), [0, 0, 0, 0, 255, 255, 255, 255, 2, 255, 255, 128,
                                        200, 100, 50, 255, 7, 8, 9, 0, 255, 12, 255, 64])
        self.write("straight.pam", run.out.encode("latin-1"))
        run = self.pictool("convert", "straight.pam", "pre.pic", "--premult")
        self.assertEqual(run.status, 0, run.err)
        back = self.pictool("convert", "pre.pic", "-", "--to", "pam").out.encode("latin-1")
        # 255 * 128 / 255 = 128, 2 * 128 / 255 = 1.0; alpha 0 gives 0.
        self.assertEqual(list(back.split(b"ENDHDR\n")[1]), [0, 0, 0, 0, 255, 255, 255, 255,
                                                             1, 128, 128, 128, 200, 100, 50, 255,
                                                             0, 0, 0, 0, 64, 3, 64, 64])


def oiio_bytes(path, crop_to_display=True):
    """A TIFF or EXR as OpenImageIO reads it (its display window), as RGBA bytes."""
    import numpy
    import OpenImageIO
    buf = OpenImageIO.ImageBuf(path)
    if crop_to_display and buf.roi != buf.roi_full:
        buf = OpenImageIO.ImageBufAlgo.crop(buf, buf.roi_full)
    return rgba_bytes(buf.get_pixels(OpenImageIO.FLOAT))


def rgba_bytes(floats):
    """Floats (height, width, 1 to 4 channels) clamped, times 255, rounded, as RGBA."""
    import numpy
    values = (numpy.clip(numpy.nan_to_num(floats), 0, 1) * 255 + 0.5).astype(numpy.uint8)
    grey = values.shape[2] <= 2
    colour = numpy.repeat(values[:, :, :1], 3, 2) if grey else values[:, :, :3]
    alpha = values[:, :, -1:] if values.shape[2] in (2, 4) else numpy.full_like(values[:, :, :1], 255)
    return numpy.concatenate([colour, alpha], 2).tobytes()


def plain_tiff(samples, photometric, sample_format):
    """A little-endian TIFF of one uncompressed strip: `samples` is a numpy
    array (height, width, channels) of the type the tags say."""
    height, width, count = samples.shape
    data = samples.tobytes()
    bits = samples.dtype.itemsize * 8
    tags = [(256, 4, [width]), (257, 4, [height]), (258, 3, [bits] * count), (259, 3, [1]),
            (262, 3, [photometric]), (273, 4, [0]), (277, 3, [count]), (278, 4, [height]),
            (279, 4, [len(data)]), (339, 3, [sample_format] * count)]
    ifd_size = 2 + 12 * len(tags) + 4
    extra = b""
    entries = b""
    for tag, kind, values in tags:
        packed = struct.pack("<%d%s" % (len(values), "H" if kind == 3 else "I"), *values)
        if tag == 273:
            packed = struct.pack("<I", 8 + ifd_size + 4 * 64)  # the strip follows the values
        if len(packed) <= 4:
            entries += struct.pack("<HHI", tag, kind, len(values)) + packed.ljust(4, b"\0")
        else:
            entries += struct.pack("<HHII", tag, kind, len(values), 8 + ifd_size + len(extra))
            extra += packed
    header = b"II*\0" + struct.pack("<I", 8) + struct.pack("<H", len(tags)) + entries + bytes(4)
    return header + extra.ljust(4 * 64, b"\0") + data


class Layouts(PictoolTest):
    """Files of every layout other programs write, read as OpenImageIO reads them."""

    def setUp(self):
        super().setUp()
        if EMULATOR or "EXR" not in " ".join(self.format_lines()):
            self.skipTest("no TIFF and EXR in this build")
        try:
            import numpy  # noqa: F401
            import OpenImageIO  # noqa: F401
            from PIL import Image  # noqa: F401
        except ImportError:
            self.skipTest("no numpy, Pillow or OpenImageIO")

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def read(self, name, *options):
        """pictool's reading of `name`: (RGBA bytes, run) or (None, run)."""
        run = self.pictool("convert", name, "read.pic", "--alpha", "--json", *options)
        if run.status != 0:
            return None, run
        return self.pam_bytes("read.pic"), run

    def pam_bytes(self, name, *options):
        """The pixels of a PIC file as PAM bytes, standard output taken as bytes."""
        return subprocess.run([PICTOOL, "convert", name, "-", "--to", "pam", *options],
                              cwd=self.folder.name, capture_output=True,
                              check=True).stdout.split(b"ENDHDR\n")[1]

    def oiio_write(self, name, floats, pixel_type, channels=None, **attributes):
        import OpenImageIO
        height, width, count = floats.shape
        spec = OpenImageIO.ImageSpec(width, height, count, pixel_type)
        if channels:
            spec.channelnames = tuple(channels)
        for key, value in attributes.items():
            if key in ("x", "y", "full_x", "full_y", "full_width", "full_height", "tile_width",
                       "tile_height"):
                setattr(spec, key, value)
            else:
                spec.attribute(key.replace("__", ":"), value)
        out = OpenImageIO.ImageOutput.create(self.path(name))
        self.assertTrue(out.open(self.path(name), spec), out.geterror())
        out.write_image(floats)
        out.close()
        return name

    def test_every_tiff_layout(self):
        import numpy
        import OpenImageIO
        from PIL import Image
        rng = numpy.random.default_rng(25)
        rgb = Image.fromarray((rng.random((6, 7, 3)) * 255).astype(numpy.uint8))
        floats = rng.random((6, 7, 3)).astype(numpy.float32) * 1.2 - 0.1

        def pillow(mode, **options):
            def make(name):
                rgb.convert(mode).save(self.path(name), **options)
            return make

        def oiio(pixel_type, **attributes):
            return lambda name: self.oiio_write(name, floats, pixel_type, **attributes)

        def libtiff(*command):
            def make(name):
                rgb.save(self.path("base.tif"))
                tool(*command, self.path("base.tif"), self.path(name))
            return make


        def magick(*options):
            def make(name):
                rgb.save(self.path("base.tif"))
                tool("convert", self.path("base.tif"), *options, self.path(name))
            return make

        def plain(dtype, photometric=2, sample_format=3):
            def make(name):
                values = floats if sample_format == 3 else (rng.random((6, 7, 1)) * 255)
                self.write(name, plain_tiff(values.astype(dtype), photometric, sample_format))
            return make

        cases = [  # name, maker, oracle: OpenImageIO, or Pillow where it keeps the stored values
            ("half", plain(numpy.float16), "oiio"),
            ("float", oiio(OpenImageIO.FLOAT), "oiio"),
            ("double", oiio(OpenImageIO.DOUBLE), "oiio"),
            ("signed 8-bit", oiio(OpenImageIO.INT8), "oiio"),
            ("signed 16-bit", oiio(OpenImageIO.INT16), "oiio"),
            ("signed 32-bit", oiio(OpenImageIO.INT32), "oiio"),
            ("32-bit", oiio(OpenImageIO.UINT32), "oiio"),
            ("2-bit RGB", oiio(OpenImageIO.UINT8, oiio__BitsPerSample=2), "oiio"),
            ("4-bit RGB", oiio(OpenImageIO.UINT8, oiio__BitsPerSample=4), "oiio"),
            ("min-is-white", plain(numpy.uint8, 0, 1), "oiio"),
            ("CMYK", pillow("CMYK"), "oiio"),
            ("L*a*b*", pillow("LAB"), "oiio"),
            ("YCbCr JPEG", libtiff("tiffcp", "-c", "jpeg", "-r", "16"), "oiio"),
            ("BigTIFF", libtiff("tiffcp", "-8"), "oiio"),
            # Entries of v * 257, which OpenImageIO truncates and pictool rounds
            # alike (Pillow writes v * 256, which rounds 1 below v where v > 128).
            ("4-bit palette", magick("-type", "palette", "-depth", "4"), "oiio"),
            ("palette", magick("-type", "palette"), "oiio"),
            # OpenImageIO reads Pillow's 1-bit files with some grey.
            ("1-bit", pillow("1"), "pillow"),
        ]
        for what, make, oracle in cases:
            with self.subTest(what):
                name = what.replace(" ", "_").replace("*", "") + ".tif"
                make(name)
                if not os.path.exists(self.path(name)):
                    self.skipTest("no " + what + " maker")
                got, run = self.read(name)
                self.assertEqual((run.status, run.err), (0, ""))
                want = (oiio_bytes(self.path(name)) if oracle == "oiio" else
                        rgba_bytes(numpy.asarray(Image.open(self.path(name)).convert("RGB"),
                                                 numpy.float32) / 255))
                self.assertEqual(got, want)
        # What libtiff cannot make RGBA is refused in words.
        magick("-colorspace", "cmyk", "-depth", "16")("cmyk16.tif")
        if os.path.exists(self.path("cmyk16.tif")):
            run = self.pictool("convert", "cmyk16.tif", "out.pic")
            self.assertEqual(run.err, "pictool: cmyk16.tif: CMYK TIFF with 16-bit integer samples "
                                      "(4 a pixel) is not read\n")

    def test_tiff_alpha_is_labelled_as_its_bytes_are(self):
        self.write("in.pic", ROUND_TRIP)
        for options, label in (([], "assoc-alpha"), (["--unpremult"], "unassoc-alpha")):
            run = self.pictool("convert", "in.pic", "out.tif", *options)
            self.assertEqual(run.status, 0, run.err)
            report = tool("tiffinfo", self.path("out.tif"))
            if report is not None:
                self.assertIn("Extra Samples: 1<%s>" % label, report)
            # Read back, the bytes are carried as stored, labelled either way.
            got, run = self.read("out.tif")
            self.assertEqual(got, self.pam_bytes("in.pic", *options))

    def test_exr_windows_layers_parts_and_samples(self):
        import numpy
        import OpenImageIO
        rng = numpy.random.default_rng(26)
        half, uint = OpenImageIO.HALF, OpenImageIO.UINT32

        def pixels(height, width, count):
            return rng.random((height, width, count)).astype(numpy.float32)

        window = dict(full_x=0, full_y=0, full_width=16, full_height=9)
        self.oiio_write("overscan.exr", pixels(13, 20, 4), half, "RGBA", x=-2, y=-2, **window)
        self.oiio_write("crop.exr", pixels(4, 5, 4), half, "RGBA", x=6, y=3, **window)
        self.oiio_write("layer.exr", pixels(3, 4, 4), half, ["diffuse.R", "diffuse.G",
                                                              "diffuse.B", "diffuse.A"])
        self.oiio_write("blender.exr", pixels(3, 4, 4), half,
                        ["ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B",
                         "ViewLayer.Depth.Z"])
        self.oiio_write("two.exr", pixels(3, 4, 6), half, ["diffuse.R", "diffuse.G", "diffuse.B",
                                                            "spec.R", "spec.G", "spec.B"])
        self.oiio_write("uint.exr", (pixels(3, 4, 3) * 4294967295).astype(numpy.uint32), uint)
        # Two parts: Z only, then colour.
        specs = [OpenImageIO.ImageSpec(4, 3, 1, half), OpenImageIO.ImageSpec(4, 3, 3, half)]
        specs[0].channelnames = ("Z",)
        for index, spec in enumerate(specs):
            spec.attribute("name", "part%d" % index)
        out = OpenImageIO.ImageOutput.create(self.path("parts.exr"))
        out.open(self.path("parts.exr"), specs)
        out.write_image(pixels(3, 4, 1))
        out.open(self.path("parts.exr"), specs[1], "AppendSubimage")
        out.write_image(pixels(3, 4, 3))
        out.close()

        def oiio_channels(name, channels, subimage=0):
            buf = OpenImageIO.ImageBuf(self.path(name), subimage, 0)
            return rgba_bytes(OpenImageIO.ImageBufAlgo.channels(buf, tuple(channels))
                              .get_pixels(OpenImageIO.FLOAT))

        cases = [  # file, options, expected pixels or words, warning
            ("overscan.exr", [], oiio_bytes(self.path("overscan.exr")), ""),
            ("crop.exr", [], oiio_bytes(self.path("crop.exr")), ""),
            ("layer.exr", [], oiio_bytes(self.path("layer.exr")), ""),
            ("blender.exr", [], oiio_channels("blender.exr", [0, 1, 2]),
             "read layer ViewLayer.Combined; left layer ViewLayer.Depth"),
            ("blender.exr", ["--ch", "ViewLayer.Depth.Z"], oiio_channels("blender.exr", [3]), ""),
            ("two.exr", [], "has colour in 2 layers (diffuse, spec): pick one with --ch", ""),
            ("two.exr", ["--ch", "spec"], oiio_channels("two.exr", [3, 4, 5]), ""),
            ("two.exr", ["--ch", "spec.B,diffuse.G,diffuse.R"], oiio_channels("two.exr", [5, 1, 0]),
             ""),
            ("uint.exr", [], oiio_bytes(self.path("uint.exr")), ""),
            ("parts.exr", [], oiio_channels("parts.exr", [0, 1, 2], 1),
             "read part 1 (part1); left part 0"),
            ("parts.exr", ["--part", "part0"], "EXR has no R, G, B or Y channel in part 0", ""),
            ("parts.exr", ["--part", "0", "--ch", "Z"], oiio_channels("parts.exr", [0]), ""),
            ("parts.exr", ["--part", "2"], "EXR has no part 2 (it has part 0 (part0), part 1", ""),
            ("layer.exr", ["--ch", "R"], "EXR has no layer or channels R", ""),
        ]
        for name, options, expected, warning in cases:
            with self.subTest(name=name, options=options):
                got, run = self.read(name, *options)
                if isinstance(expected, str):
                    self.assertEqual(run.status, 1, run.err)
                    self.assertIn(expected, run.err)
                    continue
                self.assertEqual(run.status, 0, run.err)
                self.assertEqual(got, expected)
                warnings = json.loads(run.out)["warnings"]
                self.assertEqual(len(warnings), 1 if warning else 0, warnings)
                if warning:
                    self.assertTrue(warnings[0].startswith(name + ": " + warning), warnings)
                    self.assertIn("pictool: warning: %s: %s" % (name, warning), run.err)
        # --part and --ch read EXR only.
        self.write("in.pic", ROUND_TRIP)
        run = self.pictool("convert", "in.pic", "out.pic", "--ch", "R")
        self.assertEqual(run.status, 1)
        self.assertIn("--part and --ch apply to inputs with parts and layers (EXR), not PIC",
                      run.err)

    def test_hostile_files_are_refused_in_the_words_of_max_pixels(self):
        import numpy
        import OpenImageIO
        from PIL import Image
        # A progressive JPEG whose last scan comes again and again.
        Image.new("RGB", (16, 16), (120, 30, 200)).save(self.path("p.jpg"), progressive=True)
        data = open(self.path("p.jpg"), "rb").read()
        last = data.rfind(b"\xff\xda")
        self.write("scans.jpg", data[:-2] + data[last:-2] * 120 + b"\xff\xd9")
        # 40 float channels in tiles of 64 x 64: 640 KiB a tile.
        self.oiio_write("channels.exr", numpy.zeros((64, 64, 40), numpy.float32),
                        OpenImageIO.FLOAT, tile_width=64, tile_height=64)
        # A tiled TIFF whose one tile is 8 MiB decoded.
        self.oiio_write("tile.tif", numpy.zeros((1024, 2048, 4), numpy.float32),
                        OpenImageIO.UINT8, tile_width=2048, tile_height=1024, compression="zip")
        # A PNG whose comment chunk declares 2 GiB, which libpng would allocate.
        self.write("chunk.png", b"\x89PNG\r\n\x1a\n"
                   + struct.pack(">I4sIIBBBBBI", 13, b"IHDR", 4, 3, 8, 2, 0, 0, 0, 0x3b963991)
                   + struct.pack(">I4s", 0x7FFFFFF0, b"zTXt") + b"Comment\0\0x")
        cases = [
            ("scans.jpg", [], "holds scan 101, more than --max-scans 100"),
            ("chunk.png", [], "declares a zTXt chunk of 2147483632 bytes, more than "
                              "--max-block-mib 256"),
            ("scans.jpg", ["--max-scans", "200"], None),
            ("channels.exr", ["--max-block-mib", "0"], "usage"),
            ("channels.exr", ["--max-block-mib", "1"], None),
            ("channels.exr", [], None),
            ("tile.tif", ["--max-block-mib", "7"],
             "declares tiles of 2048 x 1024 (8 MiB each, decoded), more than --max-block-mib 7"),
            ("tile.tif", [], None),
        ]
        for name, options, words in cases:
            with self.subTest(name=name, options=options):
                run = self.pictool("convert", name, "out.pic", *options)
                if words == "usage":
                    self.assert_usage_error(run)
                elif words is None:
                    self.assertEqual((run.status, run.err), (0, ""))
                else:
                    self.assertEqual(run.status, 1)
                    self.assertEqual(run.err, "pictool: %s: %s\n" % (name, words))
        run = self.pictool("convert", "channels.exr", "out.pic", "--max-block-mib", "1",
                           "--max-pixels", "100")
        self.assertIn("more than --max-pixels 100", run.err)

    def test_png_comments_in_every_text_chunk(self):
        from PIL import Image, PngImagePlugin
        for comment, chunk in (("café", b"tEXt"), ("日本 café", b"iTXt"), ("zipped", b"zTXt")):
            with self.subTest(comment):
                info = PngImagePlugin.PngInfo()
                if chunk == b"zTXt":
                    info.add_text("Comment", comment, zip=True)
                else:
                    info.add_text("Comment", comment)
                Image.new("RGB", (2, 2)).save(self.path("in.png"), pnginfo=info)
                run = self.pictool("convert", "in.png", "out.pic", "--json")
                self.assertEqual(run.status, 0, run.err)
                self.assertEqual(json.loads(run.out)["carried"], ["comment"])
                as_read = comment.encode().decode("latin-1")  # pictool() reads Latin-1
                self.assertTrue(self.info_json("out.pic")[1][0]["comment"].endswith(as_read))
                # And out again: Latin-1 in tEXt, the rest in iTXt, as Pillow reads them.
                self.assertEqual(self.pictool("convert", "out.pic", "back.png").status, 0)
                back = open(self.path("back.png"), "rb").read()
                self.assertIn(b"iTXt" if chunk == b"iTXt" else b"tEXt", back)
                with Image.open(self.path("back.png")) as image:
                    self.assertEqual(image.text["Comment"], comment)
        Image.new("RGB", (2, 2)).save(self.path("bare.png"))
        run = self.pictool("convert", "bare.png", "out.pic", "--json")
        self.assertEqual(json.loads(run.out)["carried"], [])

    def test_an_aspect_that_is_no_number_above_0_is_unknown(self):
        for bits in (0, NAN_BITS, INFINITY_BITS, 0xBF800000):  # 0, NaN, +Inf, -1
            with self.subTest(bits=hex(bits)):
                self.write("in.pic", pic_header(2, 1, ratio_bits=bits) + packet(0, RAW, RGB)
                           + bytes(6))
                self.assertIn("aspect       unknown", self.pictool("info", "in.pic").out)
                self.assertIsNone(self.info_json("in.pic")[1][0]["aspect"])
                for extension, checker, absent in (("png", ["pngcheck", "-v"], "pHYs"),
                                                   ("tif", ["tiffinfo"], "Resolution"),
                                                   ("exr", ["exrheader"], None),
                                                   ("jpg", None, None)):
                    run = self.pictool("convert", "in.pic", "out." + extension, "--json")
                    self.assertEqual(run.status, 0, run.err)
                    summary = json.loads(run.out)
                    self.assertEqual((summary["aspect"], summary["carried"]), (None, []))
                    report = tool(*checker, self.path("out." + extension)) if checker else None
                    if report is not None and absent:
                        self.assertNotIn(absent, report)
                    back = self.pictool("convert", "out." + extension, "back.pic")
                    self.assertEqual(back.status, 0, back.err)
                    self.assertEqual(self.info_json("back.pic")[1][0]["aspect"], 1)


class Usage(PictoolTest):
    def test_usage_errors_exit_2(self):
        pic = self.write("raw.pic", RAW_RGB)
        for arguments in ([], ["info"], ["info", "--json"], ["info", "--bogus", pic],
                          ["info", "--options"], ["frobnicate"], ["--plugin"],
                          ["about", "extra"], ["help", "nope"], ["help", "info", "about"]):
            with self.subTest(arguments=arguments):
                self.assert_usage_error(self.pictool(*arguments))

    def test_help_tells_of_every_command_and_option(self):
        for arguments in (["--help"], ["-h"], ["help"]):
            run = self.pictool(*arguments)
            self.assertEqual((run.status, run.err), (0, ""))
            for word in ("info", "about", "help", "--plugin", "--version", "--help"):
                self.assertIn(word, run.out)
        for arguments in (["info", "--help"], ["help", "info"], ["info", "-h", "x.pic"]):
            run = self.pictool(*arguments)
            self.assertEqual(run.status, 0)
            for word in ["--json", "--options", "--"] + INFO_KEYS:
                self.assertIn(word, run.out)
        self.assertIn("Usage: pictool about", self.pictool("help", "about").out)
        for arguments in (["help", "--help"], ["help", "help"], ["help", "-h"]):
            run = self.pictool(*arguments)
            self.assertEqual((run.status, run.err), (0, ""))
            self.assertTrue(run.out.startswith("Usage: pictool help [COMMAND]"), run.out)
        self.assertIn("JSON Lines", self.pictool("info", "--help").out)

    def test_the_manual_lists_every_format(self):
        manual = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs",
                                   "pictool.md"), encoding="utf-8").read()
        names = [line.split()[0] for line in self.format_lines()]
        self.assertIn("PIC", names)
        for name in names:
            self.assertIn("\n| %s |" % name.replace("/", ", "), manual)
        # Every option a command's help names is in the manual too.
        for command in ("info", "check", "convert", "about", "dialog"):
            for option in re.findall(r"^\s+(?:-\w, )?(--[\w-]+)", self.pictool(command, "--help").out,
                                     re.MULTILINE):
                self.assertIn(option, manual, "pictool %s %s" % (command, option))

    def test_version(self):
        for option in ("--version", "-V"):
            run = self.pictool(option)
            self.assertEqual((run.status, run.out), (0, "pictool 1.0.0.1\n"))


def pam(width, height, pixels):
    """An 8-bit RGB PAM."""
    return (b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n"
            % (width, height) + bytes(pixels))


class CommandLines(PictoolTest):
    """One command each: the files it starts from, its exit status and a line
    it prints (on stdout or stderr), and the files it leaves as they were."""

    def test_each_case_exits_and_says_so(self):
        image = pam(2, 1, range(6))
        frames = {"in%d.pam" % n: image for n in range(1, 6)}
        cases = [  # files, arguments, exit status, part of a line printed, files kept
            ({"in.pam": image, "out.pic": b"old"}, ["convert", "in.pam", "out.pic", "-n"], 0,
             "pictool: out.pic: exists; skipped (--no-clobber)", ["out.pic"]),
            ({"in.pam": image, "out.pic": b"old"},
             ["convert", "in.pam", "out.pic", "--no-clobber", "--json"], 0,
             '"ok":true,', ["out.pic"]),
            ({"in.pam": image, "out.pic": b"old"},
             ["convert", "in.pam", "out.pic", "--no-clobber", "--json"], 0,
             '"outputs":[],"skipped":["out.pic"],"frames":0,', ["out.pic"]),
            (dict(frames, **{"o3.pic": b"old"}),
             ["convert", "in%d.pam", "o%d.pic", "--frames", "1-5x2,4", "-n", "--json"], 0,
             '"outputs":["o1.pic","o5.pic","o4.pic"],"skipped":["o3.pic"],', ["o3.pic"]),
            (frames, ["convert", "in%d.pam", "o%d.pic", "--frames", "5-1x2", "--json"], 0,
             '"outputs":["o5.pic","o3.pic","o1.pic"]', []),
            (frames, ["convert", "in%d.pam", "o%d.pic", "--frames", "1-5y1"], 2,
             "pictool: convert: --frames '1-5y1': '1-5y1' lists no frame (y1 leaves none)", []),
            (frames, ["convert", "in@.pam", "o%d.pic", "--frames", "1-3", "--json"], 0,
             '"frames":3,', []),
            (frames, ["convert", "in%d.pam", "o%d.pam", "--frames", "1-5"], 2,
             "pictool: convert: in1.pam is a PAM: reading it, the output must be .pic", []),
            (frames, ["convert", "in%d.pam", "o%d.pic", "--frames", "0-99999", "--json"], 1,
             '"missing":"0,6-99999","missingFrames":99995,', []),
            (frames, ["convert", "in%d.pam", "o%d.pic", "--frames", "0-99999"], 1,
             "pictool: in%d.pam: frames 6-99999: no such file or directory (99994 frames)", []),
            ({"100%d.pam": image}, ["convert", "100%%d.pam", "a.pic", "--json"], 0,
             '"inputs":["100%d.pam"],"outputs":["a.pic"]', []),
            ({"100%d.pam": image}, ["convert", "--json", "--", "100%d.pam", "50%%.pic"], 0,
             '"outputs":["50%%.pic"]', []),
            ({"100%d.pam": image}, ["convert", "100%d.pam", "a.pic"], 2,
             "write %% for a '%' in a name", []),
        ]
        # The options block, not the PIC input, says how the rows are laid
        # out; and an input with no options keeps its own layout.
        rle, raw = options_block(rgb_compressed=1), options_block(rgb_compressed=0)
        cases += [
            ({"raw.pic": RAW_RGB, "rle.opt": rle},
             ["convert", "raw.pic", "o.pic", "--options", "rle.opt", "--json"], 0,
             '"alpha":true,"compressed":true,', []),
            ({"rle.pic": MIXED_RGBA, "raw.opt": raw},
             ["convert", "rle.pic", "o.pic", "--options", "raw.opt", "--json"], 0,
             '"alpha":true,"compressed":false,', []),
            ({"raw.pic": RAW_RGB}, ["convert", "raw.pic", "o.pic", "--json"], 0,
             '"alpha":false,"compressed":false,', []),
        ]
        if not EMULATOR and sys.platform.startswith("linux"):
            cases += [
                # A link to nowhere exists as a name: it is kept.
                ({"out.pic": "->nowhere.pic"}, ["convert", "missing.pam", "out.pic", "-n"], 0,
                 "pictool: out.pic: exists; skipped (--no-clobber)", []),
                # A read that fails inside the header says so, with the
                # driver's result for a header it cannot read.
                ({}, ["check", "--json", "/proc/self/mem"], 1,
                 '{"file":"/proc/self/mem","result":13,"error":"input/output error"}', []),
                ({}, ["info", "/proc/self/mem"], 1,
                 "pictool: /proc/self/mem: input/output error", []),
                ({}, ["convert", "/proc/self/mem", "o.pam"], 1,
                 "pictool: /proc/self/mem: input/output error", []),
                # Names that are not UTF-8 keep their bytes apart from those
                # that are.
                ({"caf\xe9.pic": RAW_RGB, "caf\xc3\xa9.pic": RAW_RGB},
                 ["check", "--json", "caf\xe9.pic", "caf\xc3\xa9.pic"], 0,
                 '{"file":"caf\\udce9.pic","result":0,', []),
                ({"caf\xc3\xa9.pic": RAW_RGB}, ["check", "--json", "caf\xc3\xa9.pic"], 0,
                 '{"file":"caf\xc3\xa9.pic","result":0,', []),
            ]
        if not EMULATOR:  # no window system for the plug-in's dialogs
            cases += [
                ({"raw.pic": RAW_RGB}, ["dialog", "info", "raw.pic"], 0,
                 "no window system, so no dialog was shown: ShowImageInfo read raw.pic's "
                 "header and answered 0 (success)", []),
                ({}, ["dialog", "about"], 1, "pictool: no window system, so no dialog was "
                 "shown: ShowAbout answered -1 (cannot be shown)", []),
            ]
        for files, arguments, status, line, kept in cases:
            with self.subTest(arguments=arguments):
                with tempfile.TemporaryDirectory(dir=self.folder.name) as folder:
                    for name, data in files.items():
                        if isinstance(data, str):  # "->TARGET": a symbolic link
                            os.symlink(data[2:], os.path.join(folder, name))
                            continue
                        with open(os.path.join(folder, name).encode("latin-1"), "wb") as out:
                            out.write(data)
                    # Names as bytes: "caf\xe9.pic" is Latin-1, not UTF-8.
                    completed = subprocess.run(
                        EMULATOR + [PICTOOL] + [a.encode("latin-1") for a in arguments],
                        cwd=folder, capture_output=True, text=True, encoding="latin-1",
                        timeout=120)
                    run = Run(completed)
                    self.assertEqual(run.status, status, run.err)
                    lines = run.out.splitlines() + run.err_lines
                    self.assertTrue(any(line in printed for printed in lines), lines)
                    for name in kept:
                        with open(os.path.join(folder, name), "rb") as kept_file:
                            self.assertEqual(kept_file.read(), files[name], name)


class FrameOrder(PictoolTest):
    def test_jobs_keep_stderr_in_frame_order(self):
        image = pam(2, 1, range(6))
        for frame in range(1, 9):
            self.write("in%d.pam" % frame, b"hello" if frame in (2, 5, 7) else image)
        expected = ["pictool: in%d.pam: frame %d: not an image read here" % (frame, frame)
                    for frame in (2, 5, 7)]
        for _ in range(3):
            run = self.pictool("convert", "in%d.pam", "o%d.pic", "--frames", "1-9", "--jobs", "4")
            self.assertEqual(run.status, 1, run.err)
            self.assertEqual([line.split(" (")[0] for line in run.err_lines],
                             expected + ["pictool: in9.pam: frame 9: no such file or directory"])


def linux_only(test):
    """Skips a test of Linux's own files and processes under an emulator."""
    def run(self):
        if EMULATOR or not sys.platform.startswith("linux"):
            self.skipTest("files and processes of Linux")
        test(self)
    return run


def as_nobody():
    """For subprocess: the child gives up root for the user "nobody"."""
    os.setgroups([])
    os.setgid(65534)
    os.setuid(65534)


class Outputs(PictoolTest):
    """pictool's outputs as an adversary and an unlucky user meet them:
    standard output that cannot be written, interrupts, outputs that appear
    meanwhile, planted links, the longest names and staged standard input."""

    def test_every_command_fails_when_standard_output_cannot_be_written(self):
        self.write("in.pam", pam(2, 1, range(6)))
        self.write("raw.pic", RAW_RGB)
        for arguments in (["info", "raw.pic"], ["info", "--json", "raw.pic"],
                          ["check", "--json", "raw.pic"], ["about"], ["--help"], ["--version"],
                          ["convert", "in.pam", "out.pic", "--json"]):
            with self.subTest(arguments=arguments), open("/dev/full", "wb") as full:
                completed = subprocess.run(EMULATOR + [PICTOOL] + arguments, stdout=full,
                                           stderr=subprocess.PIPE, cwd=self.folder.name,
                                           timeout=120)
                err = completed.stderr.decode("latin-1")
                self.assertEqual(completed.returncode, 1, err)
                # Windows' C library gives no reason for a failed write.
                self.assertIn("pictool: cannot write standard output (" +
                              ("" if EMULATOR else "no space left on device)"), err)

    @linux_only
    def test_interrupts_leave_only_whole_outputs(self):
        """SIGINT, SIGTERM and SIGHUP during a sequence of PIC writes, once a
        random number of frames is out: the frames out are whole, nothing
        else (a temporary file of pictool's or the driver's) is left."""
        import random
        import signal
        import time
        frames = 12
        for frame in range(1, frames + 1):
            self.write("in%d.pam" % frame, pam(1024, 512, bytes(range(256)) * 6144))
        arguments = [PICTOOL, "convert", "in%d.pam", "o%d.pic", "--frames", "1-%d" % frames,
                     "--quiet"]
        subprocess.run(arguments + ["--jobs", "1"], cwd=self.folder.name, check=True, timeout=120)
        with open(os.path.join(self.folder.name, "o1.pic"), "rb") as written:
            whole = written.read()
        interrupted = 0
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            for jobs, trial in ((jobs, trial) for jobs in ("1", "2") for trial in range(4)):
                with self.subTest(signal=number, jobs=jobs, trial=trial), \
                        tempfile.TemporaryDirectory(dir=self.folder.name) as out:
                    line = arguments[:3] + [os.path.join(out, "o%d.pic")] + arguments[4:]
                    process = subprocess.Popen(line + ["--jobs", jobs], cwd=self.folder.name)
                    done = random.randrange(frames)
                    while process.poll() is None and sum(
                            re.fullmatch(r"o\d+\.pic", name) is not None
                            for name in os.listdir(out)) < done:
                        time.sleep(0.001)
                    time.sleep(random.uniform(0.0, 0.005))
                    process.send_signal(number)
                    status = process.wait(timeout=60)
                    self.assertIn(status, (0, -number))
                    interrupted += status != 0
                    for name in os.listdir(out):
                        self.assertRegex(name, r"^o\d+\.pic$")
                        with open(os.path.join(out, name), "rb") as written:
                            self.assertEqual(written.read(), whole, name)
        self.assertGreater(interrupted, 12)

    @linux_only
    def test_one_job_starts_no_thread_and_keeps_an_output_that_appears_meanwhile(self):
        for frame in (1, 3):
            self.write("in%d.pam" % frame, pam(2, 1, range(6)))
        os.mkfifo(os.path.join(self.folder.name, "in2.pam"))
        process = subprocess.Popen(
            [PICTOOL, "convert", "in%d.pam", "o%d.pic", "--frames", "1-3", "-n", "--json",
             "--jobs", "1"], cwd=self.folder.name, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # Frame 2's input holds pictool up until it is written.
        with open(os.path.join(self.folder.name, "in2.pam"), "wb") as fifo:
            threads = len(os.listdir("/proc/%d/task" % process.pid))
            self.write("o2.pic", b"came meanwhile")
            fifo.write(pam(2, 1, range(6)))
        out, err = process.communicate(timeout=60)
        self.assertEqual(threads, 1)
        self.assertEqual(process.returncode, 0, err)
        self.assertIn(b"pictool: o2.pic: exists; skipped (--no-clobber)", err)
        self.assertIn(b'"outputs":["o1.pic","o3.pic"],"skipped":["o2.pic"]', out)
        with open(os.path.join(self.folder.name, "o2.pic"), "rb") as kept:
            self.assertEqual(kept.read(), b"came meanwhile")

    @linux_only
    def test_planted_links_and_files_in_sticky_folders_are_refused_as_wb_refuses_them(self):
        if os.geteuid() != 0:
            self.skipTest("only root plants another user's link and switches the protections")
        switches = ["/proc/sys/fs/protected_symlinks", "/proc/sys/fs/protected_regular"]
        before = [open(path).read() for path in switches]
        try:
            for path in switches:
                with open(path, "w") as switch:
                    switch.write("1\n")
            for user in (None, as_nobody):
                with self.subTest(nobody=user is not None):
                    self.check_sticky_folder(user)
        finally:
            for path, value in zip(switches, before):
                with open(path, "w") as switch:
                    switch.write(value)

    def check_sticky_folder(self, user):
        folder = tempfile.mkdtemp(dir=self.folder.name)
        os.chmod(self.folder.name, 0o755)
        os.chmod(folder, 0o755)
        for name in ("shared", "private"):
            os.mkdir(os.path.join(folder, name))
        os.chmod(os.path.join(folder, "shared"), 0o1777)
        precious = os.path.join(folder, "private", "precious.txt")
        with open(precious, "wb") as out:
            out.write(b"precious")
        os.symlink("../private/precious.txt", os.path.join(folder, "shared", "out.pic"))
        os.symlink("../private/new.pic", os.path.join(folder, "shared", "new.pic"))
        with open(os.path.join(folder, "shared", "theirs.pic"), "wb") as out:
            out.write(b"theirs")
        for name in ("out.pic", "new.pic", "theirs.pic"):
            os.lchown(os.path.join(folder, "shared", name), 1234, 1234)
        with open(os.path.join(folder, "in.pam"), "wb") as out:
            out.write(pam(2, 1, range(6)))
        for name in ("out.pic", "new.pic", "theirs.pic"):
            target = os.path.join("shared", name)
            completed = subprocess.run([PICTOOL, "convert", "in.pam", target], cwd=folder,
                                       capture_output=True, timeout=60, preexec_fn=user)
            self.assertEqual(completed.returncode, 1, completed.stderr)
            self.assertIn(b"%s: permission denied" % target.encode(), completed.stderr)
        self.assertEqual(sorted(os.listdir(os.path.join(folder, "private"))), ["precious.txt"])
        self.assertEqual(open(precious, "rb").read(), b"precious")
        self.assertEqual(open(os.path.join(folder, "shared", "theirs.pic"), "rb").read(),
                         b"theirs")

    @linux_only
    def test_names_as_long_as_a_file_name_may_be(self):
        self.write("in.pam", pam(2, 1, range(6)))
        self.write("in.pic", RAW_RGB)
        for extension in (".pic", ".png", ".pam"):
            for length in (243, 255):
                name = "n" * (length - len(extension)) + extension
                with self.subTest(name=name):
                    run = self.pictool("convert", "in.pam" if extension == ".pic" else "in.pic",
                                       name)
                    self.assertEqual(run.status, 0, run.err)
                    self.assertTrue(os.path.exists(os.path.join(self.folder.name, name)))
        self.assertEqual(len(os.listdir(self.folder.name)), 8)

    @linux_only
    def test_standard_input_is_held_in_memory_and_no_more_than_the_picture_needs(self):
        import threading
        staging = tempfile.mkdtemp(dir=self.folder.name)
        picture = pic_header(64, 64) + packet(0, RAW, RGB) + bytes(range(256)) * 48
        environment = dict(os.environ, TMPDIR=staging)
        process = subprocess.Popen([PICTOOL, "convert", "-", "out.pic"], cwd=self.folder.name,
                                   stdin=subprocess.PIPE, stderr=subprocess.PIPE, env=environment)
        process.stdin.write(picture[:200])
        process.stdin.flush()
        # A PIC file from a pipe is read into memory: nothing of it on disk.
        self.assertEqual(os.listdir(staging), [])
        process.stdin.write(picture[200:])
        process.stdin.close()
        self.assertEqual(process.wait(timeout=60), 0, process.stderr.read())
        process.stderr.close()
        # A picture followed by bytes without end: pictool stops at the picture.
        process = subprocess.Popen([PICTOOL, "convert", "-", "endless.pic"],
                                   cwd=self.folder.name, stdin=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=environment)

        def feed():
            try:
                process.stdin.write(picture)
                while True:
                    process.stdin.write(bytes(65536))
            except (BrokenPipeError, ValueError):
                pass

        feeder = threading.Thread(target=feed, daemon=True)
        feeder.start()
        self.assertEqual(process.wait(timeout=60), 0, process.stderr.read())
        process.stderr.close()
        feeder.join(timeout=10)
        self.assertEqual(os.listdir(staging), [])
        self.assertEqual(open(os.path.join(self.folder.name, "endless.pic"), "rb").read(),
                         open(os.path.join(self.folder.name, "out.pic"), "rb").read())


class Install(PictoolTest):
    """`cmake --install` into a new prefix, and the installed pictool run from
    another folder with no library path: it finds its plug-in and the host's
    libraries by itself. Run when PICTOOL_INSTALL names the build folder."""

    def test_the_installed_pictool_runs_from_anywhere(self):
        build = os.environ.get("PICTOOL_INSTALL")
        if not build:
            self.skipTest("PICTOOL_INSTALL names no build folder")
        prefix = os.path.join(self.folder.name, "prefix")
        cmake = os.environ.get("CMAKE_COMMAND", "cmake")
        installed = subprocess.run([cmake, "--install", build, "--prefix", prefix],
                                   capture_output=True, text=True, timeout=120)
        self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
        for name in ("bin/pictool", "lib/pictool/PIC.BMI", "lib/pictool/bmm.so",
                     "lib/pictool/core.so", "share/man/man1/pictool.1"):
            self.assertTrue(os.path.isfile(os.path.join(prefix, name)), name)
        self.write("in.pam", pam(2, 1, range(6)))
        environment = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
        tool = os.path.join(prefix, "bin", "pictool")
        cases = [  # arguments, part of a line printed
            (["about"], os.path.join(prefix, "bin", "..", "lib", "pictool", "PIC.BMI")),
            (["convert", "in.pam", "out.pic", "--json"], '"ok":true'),
            (["info", "out.pic"], "2 x 1"),
        ]
        for arguments, line in cases:
            completed = subprocess.run([tool] + arguments, cwd=self.folder.name,
                                       env=environment, capture_output=True, text=True,
                                       timeout=120)
            self.assertEqual(completed.returncode, 0, completed.stderr)
            self.assertIn(line, completed.stdout)
        with open(os.path.join(prefix, "share", "man", "man1", "pictool.1")) as page:
            text = page.read()
        for part in (".SS pictool convert", "--no-clobber", "--frames"):
            self.assertIn(part, text)


class About(PictoolTest):
    def test_tells_what_the_plugin_says(self):
        run = self.pictool("about")
        self.assertEqual((run.status, run.err), (0, ""))
        for text in ("Softimage Picture File I/O Driver", "Softimage PIC File",
                     "Dorvanquil I/O Driver", "0x5F865980", "0x67733FA6", "0x07D00500",
                     "0x40000207 (bits 0, 1, 2, 9 and 30 set)", "version 100", " pic\n"):
            self.assertIn(text, run.out)


class Plugin(PictoolTest):
    def assert_refused(self, plugin, *expected):
        for arguments in (["about"], ["info", self.write("raw.pic", RAW_RGB)]):
            run = self.pictool("--plugin", plugin, *arguments)
            self.assertEqual((run.status, run.out), (1, ""))
            self.assertEqual(len(run.err_lines), 1, run.err)
            for text in expected:
                self.assertIn(text, run.err)

    def test_a_missing_module(self):
        self.assert_refused("absent.bmi", "cannot load plug-in", "absent.bmi")

    def test_a_file_that_is_no_library(self):
        self.assert_refused(self.write("text.bmi", b"MZ not really"), "cannot load plug-in")

    def test_a_library_that_is_no_plugin(self):
        folder = os.path.dirname(os.path.abspath(PICTOOL))
        library = os.path.join(folder, "bmm.dll" if EMULATOR else "bmm.so")
        self.assert_refused(host_path(library), "is not a host plug-in")

    def test_the_option_may_follow_the_command(self):
        folder = os.path.dirname(os.path.abspath(PICTOOL))
        plugin = host_path(os.path.join(folder, "PIC.BMI"))
        run = self.pictool("about", "--plugin=" + plugin)
        self.assertEqual(run.status, 0, run.err)
        self.assertIn(plugin, run.out)


def main():
    global PICTOOL, EMULATOR
    arguments = sys.argv[1:]
    if arguments[:1] == ["--emulator"]:
        EMULATOR = [arguments[1]]
        arguments = arguments[2:]
    if not arguments:
        print([l for l in __doc__.splitlines() if l.startswith("usage:")][0], file=sys.stderr)
        return 2
    PICTOOL = os.path.abspath(arguments[0])
    program = unittest.main(argv=[sys.argv[0]] + arguments[1:], exit=False, verbosity=1)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks the resources of a built PIC.BMI against the dialog tables: the
three dialog templates (style, size, caption, font, every control's id, kind,
style, text and rectangle, in template order), bitmap 200 (130 x 32, 8 bits,
256 palette entries) and language 1033 for every resource.

    usage: template_check.py PIC.BMI
"""
import struct
import sys

import pefile

from product_texts import TEXTS

RT_BITMAP, RT_DIALOG = 2, 5
US_ENGLISH = 1033
DIALOG_STYLE = 0x90C800C0  # popup, visible, caption, system menu, modal frame, set font
FONT = (8, "MS Sans Serif")
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
NO_ID = 0xFFFF

# Control styles: WS_CHILD | WS_VISIBLE (0x50000000) and the kind's bits.
GROUP_BOX = (BUTTON, 0x50000007)
LEFT_TEXT = (STATIC, 0x50000000)
CENTRED_TEXT = (STATIC, 0x50000001)
RIGHT_TEXT = (STATIC, 0x50000002)
NO_WRAP_TEXT = (STATIC, 0x5000000C)
PICTURE = (STATIC, 0x5000000E)
RADIO_GROUP_START = (BUTTON, 0x50030009)  # auto radio, group, tab stop
RADIO = (BUTTON, 0x50010009)
CHECK_BOX = (BUTTON, 0x50010003)
DEFAULT_BUTTON = (BUTTON, 0x50010001)
PUSH_BUTTON = (BUTTON, 0x50010000)
COMMENT_EDIT = (EDIT, 0x50810080)  # border, auto h-scroll, tab stop
READ_ONLY_EDIT = (EDIT, 0x50010880)  # read-only, auto h-scroll, no border

# id, (class, style), text (an int is a resource ordinal), x, y, width, height
TEMPLATES = {
    101: ("About Softimage Picture File I/O Driver", 189, 125, [
        (NO_ID, GROUP_BOX, "", 14, 2, 160, 95),
        (NO_ID, CENTRED_TEXT, "Softimage Picture File I/O Driver", 16, 38, 156, 8),
        (NO_ID, CENTRED_TEXT, "Version 1.0 Beta", 16, 49, 156, 8),
        (NO_ID, CENTRED_TEXT, TEXTS["PIC_ABOUT_AUTHOR"], 16, 60, 156, 8),
        (NO_ID, CENTRED_TEXT, TEXTS["PIC_COPYRIGHT"], 16, 71, 156, 8),
        (1, DEFAULT_BUTTON, "OK", 69, 104, 50, 14),
        (NO_ID, PICTURE, 200, 51, 13, 90, 15),
        (NO_ID, CENTRED_TEXT, TEXTS["PIC_ABOUT_SITE"], 16, 82, 156, 8),
    ]),
    102: ("Softimage Picture Control", 261, 145, [
        (NO_ID, GROUP_BOX, "Image Attributes", 5, 2, 250, 35),
        (NO_ID, LEFT_TEXT, "Bits-Per-Pixel:", 25, 18, 50, 8),
        (1001, RADIO_GROUP_START, "24", 80, 17, 25, 10),
        (1004, RADIO, "32", 110, 17, 25, 10),
        (1003, CHECK_BOX, "Compress", 150, 17, 50, 10),
        (NO_ID, GROUP_BOX, "Comment", 5, 43, 250, 60),
        (1007, COMMENT_EDIT, "", 15, 68, 230, 12),
        (1, DEFAULT_BUTTON, "OK", 205, 109, 50, 14),
        (2, PUSH_BUTTON, "Cancel", 205, 125, 50, 14),
    ]),
    103: ("Softimage Picture Information", 295, 125, [
        (NO_ID, GROUP_BOX, " Image ", 5, 7, 285, 90),
        (NO_ID, RIGHT_TEXT, "Image:", 15, 20, 40, 10),
        (1034, NO_WRAP_TEXT, "Filename", 60, 20, 170, 10),
        (NO_ID, RIGHT_TEXT, "Resolution:", 15, 35, 40, 8),
        (1035, LEFT_TEXT, "640x480", 60, 35, 60, 10),
        (NO_ID, RIGHT_TEXT, "Aspect Ratio:", 200, 35, 50, 10),
        (1037, LEFT_TEXT, "1.88", 255, 35, 25, 10),
        (NO_ID, RIGHT_TEXT, "Type:", 15, 50, 40, 10),
        (1036, LEFT_TEXT, "32 Bits (RGBA)", 60, 50, 60, 10),
        (NO_ID, RIGHT_TEXT, "Gamma:", 200, 50, 50, 10),
        (1039, LEFT_TEXT, "1.88", 255, 50, 25, 10),
        (NO_ID, RIGHT_TEXT, "File date:", 15, 65, 40, 10),
        (1046, LEFT_TEXT, "0000/00/00 00:00:00", 60, 65, 80, 8),
        (NO_ID, RIGHT_TEXT, "Size:", 145, 65, 20, 10),
        (1047, LEFT_TEXT, "1000000", 170, 65, 40, 10),
        (NO_ID, RIGHT_TEXT, "Frames:", 220, 65, 30, 10),
        (1045, LEFT_TEXT, "9999", 255, 65, 25, 10),
        (NO_ID, RIGHT_TEXT, "Comment:", 15, 80, 40, 10),
        (1, DEFAULT_BUTTON, "OK", 125, 105, 50, 14),
        (1054, READ_ONLY_EDIT, "", 60, 80, 220, 12),
    ]),
}


class Reader:
    """Little-endian reads from a resource's bytes; running off the end fails."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def unpack(self, layout):
        values = struct.unpack_from("<" + layout, self.data, self.at)
        self.at += struct.calcsize("<" + layout)
        return values

    def word(self):
        return self.unpack("H")[0]

    def text(self):
        units = []
        while True:
            unit = self.word()
            if unit == 0:
                return "".join(map(chr, units))
            units.append(unit)

    def text_or_ordinal(self):
        first = self.word()
        if first == 0xFFFF:
            return self.word()
        if first == 0:
            return ""
        self.at -= 2
        return self.text()

    def align(self, boundary):
        self.at = (self.at + boundary - 1) // boundary * boundary


def parse_dialog(data):
    reader = Reader(data)
    style, ex_style, count, x, y, width, height = reader.unpack("IIHhhhh")
    dialog = {"style": style, "ex_style": ex_style, "size": (width, height)}
    dialog["menu"] = reader.text_or_ordinal()
    dialog["class"] = reader.text_or_ordinal()
    dialog["caption"] = reader.text()
    dialog["font"] = (reader.word(), reader.text()) if style & 0x40 else None
    controls = []
    for _ in range(count):
        reader.align(4)
        style, ex_style, x, y, width, height, control_id = reader.unpack("IIhhhhH")
        kind = reader.text_or_ordinal()
        text = reader.text_or_ordinal()
        extra = reader.word()
        reader.at += extra
        controls.append((control_id, (kind, style), text, x, y, width, height, ex_style))
    return dialog, controls


def check_dialog(template_id, data, failures):
    caption, width, height, expected_controls = TEMPLATES[template_id]
    dialog, controls = parse_dialog(data)
    where = "dialog %d" % template_id
    expected = {"style": DIALOG_STYLE, "ex_style": 0, "size": (width, height), "menu": "",
                "class": "", "caption": caption, "font": FONT}
    for field, value in expected.items():
        if dialog[field] != value:
            failures.append("%s: %s is %r, not %r" % (where, field, dialog[field], value))
    if len(controls) != len(expected_controls):
        failures.append("%s: %d controls, not %d" % (where, len(controls), len(expected_controls)))
    for index, (got, want) in enumerate(zip(controls, expected_controls)):
        control_id, kind_style, text, x, y, cx, cy, ex_style = got
        label = "%s control %d" % (where, index)
        if (control_id, kind_style, x, y, cx, cy) != (want[0], want[1]) + tuple(want[3:]):
            failures.append("%s: id/kind/style/rectangle %r, not %r" % (
                label, (control_id, (hex(kind_style[0]) if isinstance(kind_style[0], int)
                                     else kind_style[0], hex(kind_style[1])), x, y, cx, cy),
                (want[0], (hex(want[1][0]), hex(want[1][1]))) + tuple(want[3:])))
        if want[2] is None:
            if not isinstance(text, str) or not text:
                failures.append("%s: needs a text of its own, has %r" % (label, text))
        elif text != want[2]:
            failures.append("%s: text %r, not %r" % (label, text, want[2]))
        if ex_style != 0:
            failures.append("%s: extended style %#x" % (label, ex_style))


def check_banner(data, failures):
    size, width, height, planes, bits, compression, _, _, _, used, _ = struct.unpack_from(
        "<IiiHHIIiiII", data)
    entries = used if used else 1 << bits
    row_bytes = (width * bits + 31) // 32 * 4
    facts = (size, width, abs(height), planes, bits, compression, entries)
    if facts != (40, 130, 32, 1, 8, 0, 256):
        failures.append("bitmap 200: header size, width, height, planes, bits, compression, "
                        "palette %r, not (40, 130, 32, 1, 8, 0, 256)" % (facts,))
    elif len(data) < 40 + 4 * 256 + row_bytes * 32:
        failures.append("bitmap 200: %d bytes, too short for its pixels" % len(data))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: template_check.py PIC.BMI")
    module = pefile.PE(sys.argv[1])
    failures, found = [], set()
    for kind in module.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                if language.id != US_ENGLISH:
                    failures.append("resource %r/%r is filed under language %r" % (
                        kind.id, name.id, language.id))
                entry = language.data.struct
                data = module.get_data(entry.OffsetToData, entry.Size)
                found.add((kind.id, name.id))
                if kind.id == RT_DIALOG and name.id in TEMPLATES:
                    check_dialog(name.id, data, failures)
                elif kind.id == RT_BITMAP and name.id == 200:
                    check_banner(data, failures)
    for needed in [(RT_DIALOG, i) for i in TEMPLATES] + [(RT_BITMAP, 200)]:
        if needed not in found:
            failures.append("resource %r/%r is missing" % needed)
    for failure in failures:
        print(failure)
    print("%s: %d resources, %d failures" % (sys.argv[1], len(found), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

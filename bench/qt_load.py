#!/usr/bin/python3
"""A peer's first load of a PIC file: Qt's QImage through the KImageFormats
plug-in (Debian's kimageformat-plugins, with python3-pyqt5), timed inside
this fresh process as the driver's is. Prints the milliseconds.

usage: qt_load.py FILE
"""
import sys
import time

from PyQt5.QtGui import QImageReader


def main():
    if len(sys.argv) != 2:
        print("usage: qt_load.py FILE", file=sys.stderr)
        return 2
    reader = QImageReader(sys.argv[1], b"pic")
    if not reader.canRead():  # loads the plug-in, before the clock starts
        print(reader.errorString(), file=sys.stderr)
        return 1
    start = time.perf_counter()
    image = reader.read()
    elapsed = (time.perf_counter() - start) * 1e3
    if image.isNull():
        print(reader.errorString(), file=sys.stderr)
        return 1
    print(f"{elapsed:.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

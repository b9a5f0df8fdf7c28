"""The texts pic/product.h defines that the plug-in's description leaves to us
(vendor, author, copyright, trademark, web address), for the Python tests.
Texts the description fixes are written out in the tests themselves, so that
a slip in the header cannot pass.

The header is run through the C preprocessor, as the resource scripts are, and
each macro's expansion is read as a Python literal, adjacent strings joined:
TEXTS["PIC_COPYRIGHT"] is a str, TEXTS["PIC_VERSION_NUMBERS"] a tuple.
"""
import ast
import pathlib
import re
import subprocess

HEADER = pathlib.Path(__file__).resolve().parent.parent / "pic" / "product.h"


def read_texts():
    names = re.findall(r"^#define (PIC_\w+)\s", HEADER.read_text(), re.MULTILINE)
    source = '#include "%s"\n' % HEADER + "".join("%s\n" % name for name in names)
    expanded = subprocess.run(["cpp", "-P"], input=source, capture_output=True, text=True,
                              check=True).stdout
    values = [ast.literal_eval(line) for line in expanded.splitlines() if line.strip()]
    if len(values) != len(names):
        raise RuntimeError("%s: %d macros but %d values" % (HEADER, len(names), len(values)))
    return dict(zip(names, values))


TEXTS = read_texts()

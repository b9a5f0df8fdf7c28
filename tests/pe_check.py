#!/usr/bin/python3
"""Checks the built PIC.BMI as the host's loader and a user's Explorer see it:
a 32-bit i386 DLL that exports exactly the four entry points by name with
their ordinals, imports nothing but the host's two libraries and DLLs that
Windows ships, and carries the version record with every resource filed
under US English (1033).

usage: pe_check.py PATH/PIC.BMI
"""
import re
import sys

import pefile

from product_texts import TEXTS

EXPORTS = {1: "LibClassDesc", 2: "LibDescription", 3: "LibNumberClasses", 4: "LibVersion"}
HOST_DLLS = {"bmm.dll", "core.dll"}
# DLLs every Windows installation carries; a compiler runtime is not one.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll",
    "advapi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll",
    "version.dll", "shlwapi.dll", "ntdll.dll",
}
COMPILER_RUNTIME = re.compile(r"^(libgcc|libstdc\+\+|libwinpthread|libssp|libgomp|libatomic)",
                              re.IGNORECASE)
VERSION_WORDS = (1 << 16 | 0, 0 << 16 | 1)  # 1.0.0.1
VFT_DLL = 2
LANGUAGE_EN_US = 1033


class Checker:
    def __init__(self, path):
        self.path = path
        self.pe = pefile.PE(path)
        self.failures = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)

    def check_image(self):
        pe = self.pe
        self.expect(pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
                    "machine 0x%04X is not i386" % pe.FILE_HEADER.Machine)
        self.expect(pe.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE,
                    "not a PE32 image (optional header magic 0x%X)" % pe.OPTIONAL_HEADER.Magic)
        self.expect(pe.is_dll(), "not a DLL")

    def check_exports(self):
        directory = getattr(self.pe, "DIRECTORY_ENTRY_EXPORT", None)
        if directory is None:
            self.failures.append("no export table")
            return
        found = {}
        for symbol in directory.symbols:
            name = symbol.name.decode() if symbol.name else None
            self.expect(symbol.forwarder is None, "export %s is forwarded" % name)
            found[symbol.ordinal] = name
        self.expect(found == EXPORTS, "exports %s, expected %s" % (found, EXPORTS))

    def check_imports(self):
        imported = {}
        for entry in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", []):
            dll = entry.dll.decode().lower()
            imported[dll] = {i.name.decode() for i in entry.imports if i.name}
        for dll in sorted(imported):
            self.expect(not COMPILER_RUNTIME.match(dll), "imports compiler runtime %s" % dll)
            self.expect(dll in HOST_DLLS or dll in SYSTEM_DLLS, "imports unexpected %s" % dll)
        for dll in sorted(HOST_DLLS):
            self.expect(dll in imported, "does not import %s" % dll)
        self.expect("InitCustomControls" in imported.get("core.dll", set()),
                    "does not call core.dll's InitCustomControls")
        self.expect("InitCommonControls" in imported.get("comctl32.dll", set()),
                    "does not call COMCTL32's InitCommonControls")

    def check_version(self):
        pe = self.pe
        fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
        if not fixed:
            self.failures.append("no version record")
            return
        fixed = fixed[0]
        self.expect((fixed.FileVersionMS, fixed.FileVersionLS) == VERSION_WORDS,
                    "file version %08X.%08X" % (fixed.FileVersionMS, fixed.FileVersionLS))
        self.expect((fixed.ProductVersionMS, fixed.ProductVersionLS) == VERSION_WORDS,
                    "product version %08X.%08X" % (fixed.ProductVersionMS, fixed.ProductVersionLS))
        self.expect(fixed.FileType == VFT_DLL, "file type %d is not VFT_DLL" % fixed.FileType)

        tables, translations = [], []
        for group in getattr(pe, "FileInfo", []):
            for info in group:
                if info.Key == b"StringFileInfo":
                    tables += info.StringTable
                elif info.Key == b"VarFileInfo":
                    translations += [var.entry.get(b"Translation") for var in info.Var]
        self.expect([t.LangID for t in tables] == [b"041204b0"],
                    "string tables %s, expected one keyed 041204b0" % [t.LangID for t in tables])
        for table in tables:
            for key in (b"FileVersion", b"ProductVersion"):
                self.expect(table.entries.get(key) == b"1, 0, 0, 1",
                            "%s text is %r" % (key.decode(), table.entries.get(key)))
            for key, name in ((b"CompanyName", "PIC_VENDOR"),
                              (b"FileDescription", "PIC_FILE_DESCRIPTION"),
                              (b"ProductName", "PIC_PRODUCT_NAME"),
                              (b"LegalCopyright", "PIC_COPYRIGHT"),
                              (b"LegalTrademarks", "PIC_TRADEMARK")):
                self.expect(table.entries.get(key) == TEXTS[name].encode(),
                            "%s text is %r" % (key.decode(), table.entries.get(key)))
        self.expect(translations == ["0x0412 0x04b0"],
                    "translations %s, expected 0x0412/1200" % translations)

    def check_resource_languages(self):
        directory = getattr(self.pe, "DIRECTORY_ENTRY_RESOURCE", None)
        if directory is None:
            self.failures.append("no resources")
            return
        for kind in directory.entries:
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    self.expect(language.id == LANGUAGE_EN_US,
                                "resource type %s id %s is filed under language %d"
                                % (kind.id, name.id, language.id))

    def run(self):
        self.check_image()
        self.check_exports()
        self.check_imports()
        self.check_version()
        self.check_resource_languages()
        for failure in self.failures:
            print("%s: %s" % (self.path, failure), file=sys.stderr)
        return 1 if self.failures else 0


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    return Checker(argv[1]).run()


if __name__ == "__main__":
    sys.exit(main(sys.argv))

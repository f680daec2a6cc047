#!/usr/bin/env python3
"""Checks that an executable is a 64-bit GUI program that imports only system DLLs.

    pe_imports.py EXE        exit 0 when it passes; prints what it found either way
"""
import struct
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "shell32.dll",
    "advapi32.dll", "ole32.dll", "oleaut32.dll", "wininet.dll", "msvcrt.dll", "ucrtbase.dll",
}
CRT_PREFIX = "api-ms-win-crt-"

MACHINE_AMD64 = 0x8664
MAGIC_PE32_PLUS = 0x20B
SUBSYSTEM_WINDOWS_GUI = 2


def read_pe(data):
    """Machine, optional-header magic, subsystem and the imported DLL names."""
    if data[:2] != b"MZ":
        raise ValueError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    machine, nsections, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    subsystem = struct.unpack_from("<H", data, opt + 68)[0]
    if magic != MAGIC_PE32_PLUS:
        return machine, magic, subsystem, []
    import_rva = struct.unpack_from("<I", data, opt + 112 + 8)[0]  # data directory 1
    sections = []
    for i in range(nsections):
        s = opt + opt_size + 40 * i
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        sections.append((va, max(vsize, rawsize), rawptr))

    def offset(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("RVA 0x%x outside every section" % rva)

    names = []
    if import_rva:
        at = offset(import_rva)
        while True:
            entry = struct.unpack_from("<IIIII", data, at)
            if not any(entry):
                break
            name_at = offset(entry[3])
            names.append(data[name_at:data.index(b"\0", name_at)].decode("ascii"))
            at += 20
    return machine, magic, subsystem, names


def problems(machine, magic, subsystem, names):
    found = []
    if machine != MACHINE_AMD64:
        found.append("machine 0x%x, not x86-64" % machine)
    if magic != MAGIC_PE32_PLUS:
        found.append("optional header 0x%x, not PE32+" % magic)
    if subsystem != SUBSYSTEM_WINDOWS_GUI:
        found.append("subsystem %d, not GUI" % subsystem)
    if not names:
        found.append("no imports at all")
    for name in names:
        low = name.lower()
        if low not in SYSTEM_DLLS and not low.startswith(CRT_PREFIX):
            found.append("imports %s" % name)
    return found


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "rb") as f:
        info = read_pe(f.read())
    machine, magic, subsystem, names = info
    print("machine 0x%x, magic 0x%x, subsystem %d" % (machine, magic, subsystem))
    print("imports: " + ", ".join(names))
    found = problems(*info)
    for p in found:
        print("FAIL: " + p)
    print("%d passed, %d failed" % (0 if found else 1, 1 if found else 0))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""The driver image check (standin-driver/check_image.py) against the built
drivers, which keep every rule, and against copies of the shipped driver
each broken in one way, which it must name. A copy signed with a throw-away
certificate passes --signed until one byte of its code changes.

Usage: driver_image_test.py CHECK_IMAGE_PY SHIPPED.sys [OTHER.sys ...]
"""
import os
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written beside the checker
sys.path.insert(0, os.path.dirname(os.path.abspath(sys.argv[1])))
import check_image as ci  # noqa: E402


def put(data, offset, fmt, *values):
    struct.pack_into(fmt, data, offset, *values)


def coff(image):
    """The offset of the COFF file header."""
    return struct.unpack_from("<I", image.data, 0x3C)[0] + 4


def section_header(image, name):
    optional_size = struct.unpack_from("<H", image.data, coff(image) + 16)[0]
    names = [s[0] for s in image.sections]
    return coff(image) + 20 + optional_size + 40 * names.index(name)


def pdata_offset(image):
    rva = image.directory(ci.DIR_EXCEPTION)[0]
    section = image.section_of(rva)
    return section[3] + rva - section[1]


def swap_first_entries(data, image):
    table = pdata_offset(image)
    data[table:table + 24] = data[table + 12:table + 24] + data[table:table + 12]


def drop_middle_entry(data, image):
    table = pdata_offset(image)
    size = image.directory(ci.DIR_EXCEPTION)[1]
    middle = table + (size // 24) * 12
    data[middle:table + size - 12] = data[middle + 12:table + size]
    put(data, image.directory_offset + 8 * ci.DIR_EXCEPTION + 4, "<I", size - 12)


def unwind_version_zero(data, image):
    unwind_rva = struct.unpack_from("<I", data, pdata_offset(image) + 8)[0]
    section = image.section_of(unwind_rva)
    data[section[3] + unwind_rva - section[1]] = 0


def rename_import(data, image):
    name = b"ntoskrnl.exe"
    offset = data.find(name)
    data[offset:offset + len(name)] = b"kernel32.dll"


# (what is broken, the change, the words the check must print)
BREAKS = [
    ("an x86 machine", lambda d, i: put(d, coff(i), "<H", 0x14C), "not x64"),
    ("the GUI subsystem", lambda d, i: put(d, i.checksum_offset + 4, "<H", 2), "not native"),
    ("no WDM flag", lambda d, i: put(d, i.checksum_offset + 6, "<H",
                                     i.dll_characteristics & ~ci.DLL_WDM_DRIVER), "WDM driver"),
    ("no NX flag", lambda d, i: put(d, i.checksum_offset + 6, "<H",
                                    i.dll_characteristics & ~ci.DLL_NX_COMPAT), "NX compatible"),
    ("relocations stripped", lambda d, i: put(d, coff(i) + 18, "<H",
                                              i.characteristics | 1), "not relocatable"),
    ("writable code", lambda d, i: put(d, section_header(i, ".text") + 36, "<I",
                                       i.sections[0][4] | ci.SECTION_WRITE), "writable and executable"),
    ("a section off its page", lambda d, i: put(d, section_header(i, ".rdata") + 12, "<I",
                                                i.sections[1][1] + 0x200), "off a page boundary"),
    ("a user-mode import", rename_import, "kernel32.dll, which is no kernel module"),
    ("thread-local storage", lambda d, i: put(d, i.directory_offset + 8 * ci.DIR_TLS, "<II",
                                              i.sections[1][1], 40), "thread-local storage"),
    ("no exception table", lambda d, i: put(d, i.directory_offset + 8 * ci.DIR_EXCEPTION + 4,
                                            "<I", 0), "no exception table"),
    ("an unsorted exception table", swap_first_entries, "out of order"),
    ("a function left out", drop_middle_entry, "has no unwind entry"),
    ("unwind data of version 0", unwind_version_zero, "unknown version"),
]


def with_checksum(data):
    image = ci.Image(bytes(data))
    put(data, image.checksum_offset, "<I", ci.pe_checksum(bytes(data), image.checksum_offset))
    return data


def sign(path, folder):
    key, cert, signed = (os.path.join(folder, n) for n in ("key.pem", "cert.pem", "signed.sys"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "1", "-subj", "/CN=image test"],
                   check=True, capture_output=True)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                    "-in", path, "-out", signed], check=True, capture_output=True)
    with open(signed, "rb") as f:
        return bytearray(f.read())


def main():
    failures = []

    def expect(what, ok, detail):
        print(f"{'ok  ' if ok else 'FAIL'} {what}")
        if not ok:
            failures.append(f"{what}: {detail}")

    images = {path: bytearray(open(path, "rb").read()) for path in sys.argv[2:]}
    for path, data in images.items():
        found = ci.check(bytes(data), False)
        expect(f"{os.path.basename(path)} keeps every rule", not found, found)
    shipped = images[sys.argv[2]]
    checksum_at = ci.Image(bytes(shipped)).checksum_offset

    for what, change, words in BREAKS:
        data = bytearray(shipped)
        change(data, ci.Image(bytes(data)))
        found = ci.check(bytes(with_checksum(data)), False)
        expect(what, any(words in p for p in found), found)
    for what, checksum, words in (("a checksum of 0", 0, "not set"),
                                  ("a wrong checksum", ci.Image(bytes(shipped)).checksum + 1,
                                   "is wrong")):
        data = bytearray(shipped)
        put(data, checksum_at, "<I", checksum)
        found = ci.check(bytes(data), False)
        expect(what, any(words in p for p in found), found)

    expect("an unsigned image under --signed", "no embedded signature" in
           " ".join(ci.check(bytes(shipped), True)), "no complaint")
    with tempfile.TemporaryDirectory() as folder:
        signed = sign(sys.argv[2], folder)
    found = ci.check(bytes(signed), True)
    expect("a signed image keeps every rule, its checksum too", not found, found)
    image = ci.Image(bytes(signed))
    signed[image.sections[0][3] + 16] ^= 0xFF
    found = ci.check(bytes(with_checksum(signed)), True)
    expect("one changed byte of signed code", any("digest is not the image's" in p for p in found),
           found)

    print(f"{len(BREAKS) + len(images) + 5 - len(failures)} passed, {len(failures)} failed")
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

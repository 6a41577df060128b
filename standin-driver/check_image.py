#!/usr/bin/env python3
"""Reads a driver image as the x64 Windows loader and its code-integrity
rules read it, and names every rule the image breaks.

Wine loads drivers that Windows would refuse, so this check is what holds
these properties: an x64 image for the native subsystem with the WDM and NX
flags and nothing against relocation, a PE checksum that is set and right, sections on page
boundaries and never both writable and executable, imports from kernel
modules alone, no thread-local storage, and an exception table (.pdata) that
is sorted and covers the code, whose unwind data Windows needs to walk a
driver's stack. With --signed, also an Authenticode signature at the end of
the file whose SHA-256 digest is the image's own.

Usage: check_image.py IMAGE [--signed]
Exit code 0 when the image keeps every rule; 1 with one line per broken
rule on stderr.
"""
import hashlib
import struct
import sys

MACHINE_AMD64 = 0x8664
PE32_PLUS = 0x20B
SUBSYSTEM_NATIVE = 1
DLL_DYNAMIC_BASE = 0x0040
DLL_NX_COMPAT = 0x0100
DLL_WDM_DRIVER = 0x2000
SECTION_EXECUTE = 0x20000000
SECTION_WRITE = 0x80000000
PAGE = 0x1000
FILE_RELOCS_STRIPPED = 0x0001
DIR_IMPORT, DIR_EXCEPTION, DIR_SECURITY, DIR_TLS = 1, 3, 4, 9
KERNEL_MODULES = {"ntoskrnl.exe", "hal.dll"}  # and any other ".sys"
FUNCTION_ALIGNMENT = 16  # the compiler's padding between two functions
IMPORT_THUNK = b"\xff\x25"  # jmp [rip+disp32] to an imported function
# GNU ld's empty constructor and destructor lists, which it puts in .text.
EMPTY_LIST = b"\xff" * 8 + b"\0" * 8
PADDING = b"\x90\xcc\0"  # nop, int3, zero
# The assembler's long nops: prefixes 66 and 2e, then 0f 1f with one of these
# operands.
LONG_NOP_OPERANDS = (b"\0", b"\x40\0", b"\x44\0\0", b"\x80\0\0\0\0", b"\x84\0\0\0\0\0")
CERT_REVISION_2 = 0x0200
CERT_PKCS_SIGNED_DATA = 0x0002
# DER forms of what an Authenticode SHA-256 signature holds.
OID_SIGNED_DATA = bytes.fromhex("06092a864886f70d010702")
OID_SPC_INDIRECT_DATA = bytes.fromhex("060a2b060104018237020104")
OID_SHA256 = bytes.fromhex("0609608648016503040201")


class Image:
    """The headers of a PE32+ image and the offsets that hold them."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, self.symbols, symbol_count, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        if self.magic != PE32_PLUS:
            raise ValueError("not a PE32+ image")
        self.entry = struct.unpack_from("<I", data, opt + 16)[0]
        self.section_alignment, self.file_alignment = struct.unpack_from("<II", data, opt + 32)
        self.checksum_offset = opt + 64
        self.checksum, self.subsystem, self.dll_characteristics = struct.unpack_from(
            "<IHH", data, self.checksum_offset)
        count = struct.unpack_from("<I", data, opt + 108)[0]
        self.directory_offset = opt + 112
        self.directories = [struct.unpack_from("<II", data, self.directory_offset + 8 * i)
                            for i in range(count)]
        self.sections = []
        for i in range(sections):
            fields = struct.unpack_from("<8sIIII12xI", data, opt + optional_size + 40 * i)
            name, vsize, rva, raw_size, raw_offset, flags = fields
            self.sections.append((name.rstrip(b"\0").decode(errors="replace"), rva,
                                  max(vsize, raw_size), raw_offset, flags))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def section_of(self, rva):
        for section in self.sections:
            if section[1] <= rva < section[1] + section[2]:
                return section
        return None

    def read(self, rva, size):
        section = self.section_of(rva)
        if section is None:
            raise ValueError(f"RVA {rva:#x} is in no section")
        offset = section[3] + rva - section[1]
        return self.data[offset:offset + size]

    def string(self, rva):
        return self.read(rva, 256).split(b"\0", 1)[0].decode(errors="replace")


def pe_checksum(data, checksum_offset):
    """The PE checksum: 16-bit words added with carry, the checksum field as
    zero, plus the file's length."""
    padded = data + b"\0" * (len(data) % 2)
    total = sum(struct.unpack(f"<{len(padded) // 2}H", padded))
    total -= sum(struct.unpack_from("<HH", data, checksum_offset))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def check_headers(image):
    problems = []
    if image.machine != MACHINE_AMD64:
        problems.append(f"machine {image.machine:#x}, not x64")
    if image.subsystem != SUBSYSTEM_NATIVE:
        problems.append(f"subsystem {image.subsystem}, not native")
    for flag, name in ((DLL_WDM_DRIVER, "WDM driver"), (DLL_NX_COMPAT, "NX compatible"),
                       (DLL_DYNAMIC_BASE, "dynamic base")):
        if not image.dll_characteristics & flag:
            problems.append(f"the {name} flag is missing")
    if image.characteristics & FILE_RELOCS_STRIPPED:
        problems.append("marked as not relocatable")
    if image.checksum == 0:
        problems.append("the checksum is not set")
    elif image.checksum != pe_checksum(image.data, image.checksum_offset):
        problems.append(f"the checksum {image.checksum:#x} is wrong "
                        f"(the file sums to {pe_checksum(image.data, image.checksum_offset):#x})")
    if image.directory(DIR_TLS) != (0, 0):
        problems.append("a thread-local storage directory")
    return problems


def check_sections(image):
    problems = []
    if image.section_alignment != PAGE:
        problems.append(f"section alignment {image.section_alignment:#x}, not a page")
    for name, rva, _, _, flags in image.sections:
        if rva % PAGE:
            problems.append(f"section {name} starts at {rva:#x}, off a page boundary")
        if flags & SECTION_WRITE and flags & SECTION_EXECUTE:
            problems.append(f"section {name} is both writable and executable")
        if name == ".tls":
            problems.append("a .tls section")
    section = image.section_of(image.entry)
    if section is None or not section[4] & SECTION_EXECUTE:
        problems.append(f"the entry point {image.entry:#x} is not in code")
    return problems


def check_imports(image):
    problems = []
    rva, size = image.directory(DIR_IMPORT)
    if size == 0:
        return ["no imports: a driver imports from ntoskrnl.exe"]
    while True:
        descriptor = image.read(rva, 20)
        if len(descriptor) < 20 or descriptor == b"\0" * 20:
            break
        module = image.string(struct.unpack_from("<I", descriptor, 12)[0]).lower()
        if module not in KERNEL_MODULES and not module.endswith(".sys"):
            problems.append(f"imports from {module}, which is no kernel module")
        rva += 20
    return problems


def is_padding(code):
    """Whether a stretch of code between two functions is padding, the
    linker's empty constructor lists or its import thunks (which keep the
    stack as a leaf function does)."""
    if len(code) < FUNCTION_ALIGNMENT:
        return True
    position = 0
    while position < len(code):
        if code.startswith(IMPORT_THUNK, position):
            position += 6
        elif code.startswith(EMPTY_LIST, position):
            position += len(EMPTY_LIST)
        elif code[position] in PADDING:
            position += 1
        else:
            position = long_nop_end(code, position)
            if position is None:
                return False
    return True


def long_nop_end(code, position):
    while code[position:position + 1] in (b"\x66", b"\x2e"):
        position += 1
    if not code.startswith(b"\x0f\x1f", position):
        return None
    for operand in LONG_NOP_OPERANDS:
        if code.startswith(operand, position + 2):
            return position + 2 + len(operand)
    return None


def check_unwind_table(image):
    """The exception table: sorted, inside code, each entry with readable
    unwind data, and nothing but padding and import thunks left out."""
    rva, size = image.directory(DIR_EXCEPTION)
    if size == 0:
        return ["no exception table (.pdata): Windows cannot unwind the driver's stack"]
    if size % 12:
        return [f"the exception table's size {size} is not a whole number of entries"]
    table = image.read(rva, size)
    entries = [struct.unpack_from("<III", table, i) for i in range(0, size, 12)]
    problems = []
    previous_end = 0
    covered = {}  # code section name -> [(begin, end)]
    for begin, end, unwind in entries:
        section = image.section_of(begin)
        if begin >= end or begin < previous_end:
            problems.append(f"entry {begin:#x}-{end:#x} is out of order or overlaps")
        elif section is None or not section[4] & SECTION_EXECUTE or end > section[1] + section[2]:
            problems.append(f"entry {begin:#x}-{end:#x} is not inside code")
        else:
            covered.setdefault(section[0], []).append((begin, end))
        unwind_section = image.section_of(unwind)
        if unwind_section is None or unwind_section[4] & SECTION_EXECUTE:
            problems.append(f"entry {begin:#x} has its unwind data at {unwind:#x}, outside data")
        elif image.read(unwind, 1)[0] & 7 not in (1, 2):
            problems.append(f"entry {begin:#x} has unwind data of an unknown version")
        previous_end = max(previous_end, end)
    for name, rva, vsize, offset, flags in image.sections:
        if not flags & SECTION_EXECUTE:
            continue
        code = image.data[offset:offset + vsize]
        position = rva
        for begin, end in covered.get(name, []) + [(rva + len(code), 0)]:
            if not is_padding(code[position - rva:begin - rva]):
                problems.append(f"code at {position:#x}-{begin:#x} in {name} has no unwind entry")
            position = max(position, end)
    return problems


def authenticode_digest(image, cert_offset):
    """SHA-256 of the file up to its certificates, without the checksum and
    the certificate directory entry."""
    security_entry = image.directory_offset + 8 * DIR_SECURITY
    data = image.data
    digest = hashlib.sha256()
    digest.update(data[:image.checksum_offset])
    digest.update(data[image.checksum_offset + 4:security_entry])
    digest.update(data[security_entry + 8:cert_offset])
    return digest.digest()


def check_signature(image):
    offset, size = image.directory(DIR_SECURITY)
    if size == 0:
        return ["no embedded signature"]
    if offset % 8 or offset + size != len(image.data):
        return [f"the certificate table at {offset:#x} (+{size}) is not 8-byte aligned at the file's end"]
    length, revision, kind = struct.unpack_from("<IHH", image.data, offset)
    content = image.data[offset + 8:offset + length]
    if revision != CERT_REVISION_2 or kind != CERT_PKCS_SIGNED_DATA or length > size:
        return [f"the certificate is not PKCS#7 signed data (revision {revision:#x}, type {kind})"]
    problems = []
    for oid, what in ((OID_SIGNED_DATA, "PKCS#7 signed data"),
                      (OID_SPC_INDIRECT_DATA, "Authenticode indirect data"),
                      (OID_SHA256, "SHA-256")):
        if oid not in content:
            problems.append(f"the signature holds no {what}")
    if b"\x04\x20" + authenticode_digest(image, offset) not in content:
        problems.append("the signature's digest is not the image's")
    return problems


def check(data, signed):
    image = Image(data)
    problems = (check_headers(image) + check_sections(image) + check_imports(image) +
                check_unwind_table(image))
    if signed:
        problems += check_signature(image)
    return problems


def main(argv):
    if len(argv) not in (2, 3) or (len(argv) == 3 and argv[2] != "--signed"):
        print("usage: check_image.py IMAGE [--signed]", file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        data = f.read()
    try:
        problems = check(data, len(argv) == 3)
    except (ValueError, struct.error, IndexError) as error:
        problems = [f"unreadable image: {error}"]
    for problem in problems:
        print(f"{argv[1]}: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Reads a built kernel image and checks what Windows and the framework's
loader rely on: an x64 image for the native subsystem that imports only the
kernel and the framework loader, with no C runtime, a valid checksum, an
Authenticode signature and the version resource.

pe_check.py IMAGE [VERSION]: prints each finding; exits 1 on any failure."""
import struct
import sys

failures = []


def check(what, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + what + (": " + detail if detail else ""))
    if not ok:
        failures.append(what)


def pe_checksum(data, checksum_offset):
    # The loader's sum: 16-bit words with the carry folded back in, the
    # checksum field itself left out, plus the file's length.
    total = 0
    padded = data + (b"\0" if len(data) % 2 else b"")
    for i in range(0, len(padded), 2):
        if checksum_offset <= i < checksum_offset + 4:
            continue
        total += padded[i] | (padded[i + 1] << 8)
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def cstring(data, offset):
    end = data.index(b"\0", offset)
    return data[offset:end].decode("ascii")


def main():
    path = sys.argv[1]
    want_version = sys.argv[2] if len(sys.argv) > 2 else "3.0.0.0"
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    check("PE signature", data[pe:pe + 4] == b"PE\0\0")
    machine, nsections, _, _, _, opt_size, characteristics = struct.unpack_from("<HHIIIHH", data, pe + 4)
    check("x64 machine", machine == 0x8664, hex(machine))
    check("an executable image, not a DLL", characteristics & 0x2 and not characteristics & 0x2000,
          hex(characteristics))
    opt = pe + 24
    check("PE32+ optional header", struct.unpack_from("<H", data, opt)[0] == 0x20B)
    subsystem, dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
    check("native subsystem", subsystem == 1, str(subsystem))
    check("relocatable and NX-compatible", dll_characteristics & 0x40 and dll_characteristics & 0x100,
          hex(dll_characteristics))
    stored = struct.unpack_from("<I", data, opt + 64)[0]
    computed = pe_checksum(data, opt + 64)
    check("PE checksum", stored != 0 and stored == computed, "stored %08x, computed %08x" % (stored, computed))

    ndirs = struct.unpack_from("<I", data, opt + 108)[0]
    dirs = [struct.unpack_from("<II", data, opt + 112 + 8 * i) for i in range(ndirs)]
    sections = []
    for i in range(nsections):
        s = pe + 24 + opt_size + 40 * i
        name = data[s:s + 8].rstrip(b"\0").decode("ascii", "replace")
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        sections.append((name, va, max(vsize, rawsize), rawptr))

    def offset_of(rva):
        for _, va, size, raw in sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("rva %x outside every section" % rva)

    # Imports: the kernel and the framework loader, nothing else.
    imports = {}
    rva = dirs[1][0]
    while rva:
        thunk, _, _, name_rva, first = struct.unpack_from("<IIIII", data, offset_of(rva))
        if name_rva == 0:
            break
        dll = cstring(data, offset_of(name_rva))
        names = []
        t = offset_of(thunk or first)
        while True:
            entry = struct.unpack_from("<Q", data, t)[0]
            if entry == 0:
                break
            names.append("#%d" % (entry & 0xFFFF) if entry >> 63 else cstring(data, offset_of(entry & 0x7FFFFFFF) + 2))
            t += 8
        imports[dll.lower()] = names
        rva += 20
    check("imports only ntoskrnl.exe and WDFLDR.SYS", set(imports) == {"ntoskrnl.exe", "wdfldr.sys"},
          ", ".join(sorted(imports)))
    check("binds through WdfVersionBind and WdfVersionUnbind",
          sorted(imports.get("wdfldr.sys", [])) == ["WdfVersionBind", "WdfVersionUnbind"])
    print("     kernel routines: " + " ".join(imports.get("ntoskrnl.exe", [])))

    # No C runtime: no runtime DLL, no runtime start-up (its sections), no
    # exports, no thread-local storage.
    names = {s[0] for s in sections}
    check("no C runtime sections", not names & {".CRT", ".tls", ".ctors", ".dtors"}, " ".join(sorted(names)))
    check("no export table", dirs[0][1] == 0)
    check("no thread-local storage", dirs[9][1] == 0)

    # The Authenticode signature: a WIN_CERTIFICATE holding PKCS#7 signed data.
    cert_offset, cert_size = dirs[4]
    ok = cert_size >= 8 and cert_offset + cert_size <= len(data)
    if ok:
        length, revision, kind = struct.unpack_from("<IHH", data, cert_offset)
        ok = length <= cert_size and revision == 0x200 and kind == 2
    check("Authenticode signature present", ok, "%d bytes" % cert_size)

    # The version resource: the fixed file info and the version strings.
    rsrc = dirs[2][0]
    blob = data[offset_of(rsrc):offset_of(rsrc) + dirs[2][1]] if rsrc else b""
    fixed = blob.find(struct.pack("<I", 0xFEEF04BD))
    ok = fixed >= 0
    if ok:
        ms, ls, pms, pls = struct.unpack_from("<IIII", blob, fixed + 8)
        file_type, subtype = struct.unpack_from("<II", blob, fixed + 36)
        file_version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        product_version = "%d.%d.%d.%d" % (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)
        ok = file_version == want_version and product_version == want_version and file_type == 3 and subtype == 7
        detail = "file %s, product %s, type %d/%d" % (file_version, product_version, file_type, subtype)
    check("version resource %s of a system driver" % want_version, ok, detail if fixed >= 0 else "none")
    text = blob.decode("utf-16-le", "replace")
    for key in ("FileVersion", "ProductVersion"):
        check("version string " + key, (key + "\0" + want_version) in text.replace("\0\0", "\0"))
    check("original file name", "QXVeltrane.sys" in text)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

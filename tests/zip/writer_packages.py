#!/usr/bin/python3
"""Packages built from archives that real writers make with ZIP64, read whole
by unzip -t, 7-Zip and Python's zipfile, with ZIP64 only where the package's
values need it (checked here from the bytes, without any of these readers).

  writer_packages.py CASE ZIPGRAFT STUB SOURCE_DIR WORK_DIR

CASE is one of: many (Info-ZIP, 70,000 files), python (zipfile with
allowZip64 and force_zip64), bsdtar, big (Info-ZIP, a sparse file of more than
4 GiB stored), shift (an archive of 4 GiB minus a few KiB that crosses 4 GiB
behind a 1 MiB stub). Exit 77 (skipped) when a tool is missing or /tmp-like
space runs short for the large cases.
"""

import os
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

GIB = 1 << 30
WIDE = 0xFFFFFFFF
ZIP64_ID = 1


def run(*args, **kw):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kw)


def skip(why):
    print("SKIP:", why)
    sys.exit(77)


def zip64_block(extra):
    at = 0
    while at + 4 <= len(extra):
        ident, size = struct.unpack_from("<HH", extra, at)
        if ident == ZIP64_ID:
            return extra[at + 4:at + 4 + size]
        at += 4 + size
    return None


def layout(path):
    """The package's records: end records and, per member, the ZIP64 fields
    of each header as (uncompressed, compressed, offset) placeholders."""
    with open(path, "rb") as f:
        size = f.seek(0, 2)
        f.seek(size - min(size, 65557))
        tail = f.read()
        end = tail.rfind(b"PK\x05\x06")
        end_at = size - len(tail) + end
        count, dsize, doffset = struct.unpack_from("<HII", tail, end + 10)
        out = {"end": (count, dsize, doffset), "zip64_end": False, "members": []}
        f.seek(end_at - 20)
        loc = f.read(20)
        if loc[:4] == b"PK\x06\x07":
            record = struct.unpack_from("<Q", loc, 8)[0]
            assert record + 56 == end_at - 20, "ZIP64 record does not end at the locator"
            f.seek(record)
            z = f.read(56)
            assert z[:4] == b"PK\x06\x06"
            count, dsize, doffset = struct.unpack_from("<QQQ", z, 32)
            out["zip64_end"] = True
        f.seek(doffset)
        directory = f.read(dsize)
        at = 0
        for _ in range(count):
            (csize, usize, nlen, xlen, clen) = struct.unpack_from("<IIHHH", directory, at + 20)
            offset = struct.unpack_from("<I", directory, at + 42)[0]
            name = directory[at + 46:at + 46 + nlen].decode("utf-8", "replace")
            extra = directory[at + 46 + nlen:at + 46 + nlen + xlen]
            wide = (usize == WIDE, csize == WIDE, offset == WIDE)
            block = zip64_block(extra)
            assert (block is None) == (not any(wide)), name
            assert block is None or len(block) == 8 * sum(wide), name
            real_offset = offset
            if wide[2]:
                real_offset = struct.unpack_from("<Q", block, 8 * (wide[0] + wide[1]))[0]
            f.seek(real_offset)
            local = f.read(30)
            lnlen, lxlen = struct.unpack_from("<HH", local, 26)
            lcsize, lusize = struct.unpack_from("<II", local, 18)
            lblock = zip64_block(f.read(lnlen + lxlen)[lnlen:])
            lwide = (lusize == WIDE, lcsize == WIDE)
            assert (lblock is None) == (not any(lwide)), name
            out["members"].append({"name": name, "central": wide, "local": lwide,
                                   "offset": real_offset, "size": max(csize, usize)})
            at += 46 + nlen + xlen + clen
        return out


def expect_zip64_where_needed(path):
    """Every ZIP64 field the package holds is one its value needs, and every
    value that needs one has it."""
    lay = layout(path)
    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
    assert len(infos) == len(lay["members"])
    for info, m in zip(infos, lay["members"]):
        big = info.file_size >= WIDE or info.compress_size >= WIDE
        assert m["central"] == (info.file_size >= WIDE, info.compress_size >= WIDE,
                                m["offset"] >= WIDE), (m, info)
        assert m["local"] == (big, big), m
    count, dsize, doffset = lay["end"]
    members = len(infos)
    needs = members >= 0xFFFF or doffset == WIDE or dsize == WIDE
    assert lay["zip64_end"] == needs, lay["end"]
    assert count == min(members, 0xFFFF), lay["end"]
    return lay


def expect_readers(path, members):
    run("unzip", "-tqq", path)
    seven = run("7zz", "t", path).stdout
    assert "Everything is Ok" in seven, seven
    assert "WARNING" not in seven, seven
    for line in seven.splitlines():
        if line.startswith("Characteristics"):
            assert line.split("=", 1)[1].split() == ["Zip64"], line
    with zipfile.ZipFile(path) as z:
        assert z.testzip() is None
        assert len(z.infolist()) == members


def package_files(dest, source):
    for name in ("SETUP42.xml", "tv_data.xml", "config_en.xml", "config_de.xml", "settings.cfg"):
        shutil.copy(os.path.join(source, "examples", "package", name), dest)


def build(zipgraft, stub, archive, work):
    out = os.path.join(work, "SETUP42.exe")
    r = subprocess.run([zipgraft, stub, archive, out], capture_output=True, text=True)
    assert r.returncode == 0, r.stdout + r.stderr
    return out


def expect_verified(zipgraft, package):
    """--verify reads the package whole and finds it sound; one of 4 GiB or more is told to be
    too large to sign, without failing."""
    r = subprocess.run([zipgraft, "--verify", package], capture_output=True, text=True)
    assert r.returncode == 0 and "- package is sound." in r.stdout, r.stdout + r.stderr
    too_large = "- the package is 4 GiB or larger: too large to carry an Authenticode signature"
    assert (too_large in r.stdout) == (os.path.getsize(package) >= 4 * GIB), r.stdout


def case_many(work, source):
    files = os.path.join(work, "files")
    os.makedirs(os.path.join(files, "many"))
    package_files(files, source)
    for i in range(70000):
        with open(os.path.join(files, "many", "%05d.txt" % i), "w") as f:
            f.write("member %d\n" % i)
    run("zip", "-q", "-r", "-X", os.path.join(work, "in.zip"), ".", cwd=files)
    shutil.rmtree(files)
    return os.path.join(work, "in.zip"), 70000 + 6


def case_python(work, source):
    archive = os.path.join(work, "in.zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, allowZip64=True) as z:
        for name in ("SETUP42.xml", "tv_data.xml", "config_en.xml", "config_de.xml",
                     "settings.cfg"):
            with open(os.path.join(source, "examples", "package", name), "rb") as f:
                data = f.read()
            with z.open(name, "w", force_zip64=name != "SETUP42.xml") as member:
                member.write(data)
        with z.open("forced.bin", "w", force_zip64=True) as member:
            member.write(os.urandom(3000))
        z.writestr("plain.txt", "plain " * 100)
    return archive, 7


def case_bsdtar(work, source):
    files = os.path.join(work, "files")
    os.makedirs(os.path.join(files, "sub"))
    package_files(files, source)
    with open(os.path.join(files, "sub", "data.bin"), "wb") as f:
        f.write(os.urandom(100000))
    run("bsdtar", "--format", "zip", "-cf", os.path.join(work, "in.zip"),
        *sorted(os.listdir(files)), cwd=files)
    members = len(zipfile.ZipFile(os.path.join(work, "in.zip")).infolist())
    shutil.rmtree(files)
    return os.path.join(work, "in.zip"), members


def sparse(path, size):
    with open(path, "wb") as f:
        f.truncate(size)


def case_big(work, source):
    files = os.path.join(work, "files")
    os.makedirs(files)
    package_files(files, source)
    sparse(os.path.join(files, "huge.bin"), 4 * GIB + 12345)
    run("zip", "-q", "-0", "-X", os.path.join(work, "in.zip"), "huge.bin", "SETUP42.xml",
        "tv_data.xml", "config_en.xml", "config_de.xml", "settings.cfg", cwd=files)
    shutil.rmtree(files)
    return os.path.join(work, "in.zip"), 6


def zero_crc(size):
    chunk = bytes(64 << 20)
    crc = 0
    while size > 0:
        n = min(size, len(chunk))
        crc = zlib.crc32(memoryview(chunk)[:n], crc)
        size -= n
    return crc


def case_shift(work, source):
    """A stored member of zeros written as a hole first, the package's files
    behind it: the archive fits 32 bits, the package does not."""
    archive = os.path.join(work, "in.zip")
    room = 4 * GIB - 8 * 1024
    with zipfile.ZipFile(archive, "w") as z:
        for name in ("SETUP42.xml", "tv_data.xml", "config_en.xml", "config_de.xml",
                     "settings.cfg"):
            z.write(os.path.join(source, "examples", "package", name), name)
    with open(archive, "rb") as f:
        small = f.read()
    with zipfile.ZipFile(archive) as z:
        infos = z.infolist()
    entries = len(infos)
    directory_at = struct.unpack_from("<I", small, len(small) - 6)[0]
    name = b"zeros.bin"
    size = room - len(small) - 2 * (30 + 46 + len(name))
    crc = zero_crc(size)
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x21, crc, size, size,
                        len(name), 0) + name
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0x21, crc, size,
                          size, len(name), 0, 0, 0, 0, 0, 0) + name
    shift = len(local) + size
    directory = bytearray(small[directory_at:len(small) - 22])
    at = 0
    for _ in range(entries):
        offset = struct.unpack_from("<I", directory, at + 42)[0]
        struct.pack_into("<I", directory, at + 42, offset + shift)
        nlen, xlen, clen = struct.unpack_from("<HHH", directory, at + 28)
        at += 46 + nlen + xlen + clen
    directory = central + bytes(directory)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, entries + 1, entries + 1, len(directory),
                      shift + directory_at, 0)
    with open(archive, "wb") as f:
        f.write(local)
        f.seek(shift)  # the member's zeros: a hole
        f.write(small[:directory_at] + directory + end)
    assert os.path.getsize(archive) < WIDE
    return archive, entries + 1


def megabyte_stub(stub, work):
    """The stub with an overlay that makes it 1 MiB."""
    out = os.path.join(work, "stub1m.exe")
    shutil.copy(stub, out)
    with open(out, "ab") as f:
        f.write(b"\0" * ((1 << 20) - os.path.getsize(stub)))
    return out


def main():
    case, zipgraft, stub, source, work = sys.argv[1:6]
    for tool in ("zip", "unzip", "7zz", "bsdtar"):
        if shutil.which(tool) is None:
            skip(tool + " is not installed")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    if case in ("big", "shift") and shutil.disk_usage(work).free < 20 * GIB:
        skip("less than 20 GiB free for the large packages")
    try:
        archive, members = globals()["case_" + case](work, source)
        if case == "shift":
            stub = megabyte_stub(stub, work)
        before = os.stat(archive)
        package = build(zipgraft, stub, archive, work)
        after = os.stat(archive)
        assert (before.st_size, before.st_mtime_ns) == (after.st_size, after.st_mtime_ns)
        os.remove(archive)
        lay = expect_zip64_where_needed(package)
        expect_readers(package, members)
        expect_verified(zipgraft, package)
        wide = sum(1 for m in lay["members"] if any(m["central"]))
        print("ok: %s: %d members, ZIP64 end record %s, %d members with ZIP64 fields, %.2f GiB"
              % (case, members, lay["zip64_end"], wide, os.path.getsize(package) / GIB))
        if case == "shift":
            assert lay["zip64_end"] and os.path.getsize(package) > WIDE
            # Only the members the shift put past 4 GiB, and only their offsets.
            assert all(m["central"] == (False, False, m["offset"] >= WIDE)
                       for m in lay["members"])
            assert wide == members - 1, wide
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

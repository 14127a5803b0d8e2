"""Archive helpers for the self-extractor tests.

  zip_tools.py names OUT.zip DEFINITION   archive with hostile and non-ASCII names;
                                          prints how many names must be refused
  zip_tools.py patch-names PACKAGE        puts the raw bytes zipfile cannot write
                                          (an OEM name, a NUL) into the built package
  zip_tools.py flip PACKAGE NAME          flips a byte in the middle of NAME's data
  zip_tools.py set PACKAGE NAME FIELD HEX sets csize, usize or offset of NAME in
                                          the central directory
  zip_tools.py tail-is-end PACKAGE        exit 0 when the ZIP end record is the
                                          file's last 22 bytes
  zip_tools.py unsign IN.zip OUT.zip      IN's members (behind signed 32-bit data
                                          descriptors, as zip -fd writes them) behind
                                          descriptors without the signature
  zip_tools.py append STUB OUT KIND [N]   a copy of STUB with an archive appended by
                                          zipfile (offsets from the file's start):
                                          "force" (small members, force_zip64) or
                                          "many" (N members)
  zip_tools.py zip64ify PACKAGE FIELDS    rewrites PACKAGE's central directory with
                                          ZIP64 extras for FIELDS (comma-separated
                                          usize, csize, offset) and ZIP64 end records
  zip_tools.py damage PACKAGE KIND        damages the ZIP64 records of a zip64ify'd
                                          PACKAGE (see DAMAGE)
  zip_tools.py big STUB OUT SIZE          STUB, then a stored member big.bin of SIZE
                                          bytes (sparse, marked zeros) and after.txt
                                          behind it, in ZIP64 records
"""
import io
import os
import shutil
import struct
import sys
import zipfile
import zlib

# Names that must not leave the target directory or reach a device.
HOSTILE = [
    "../evil.txt", "..\\evil.txt", "a/../../evil.txt", "C:\\evil.txt", "C:evil.txt",
    "/evil.txt", "\\evil.txt", "con.txt", "Aux .log", "LPT1", "com9.txt.evil",
    "trail.", "blank ", "stream.txt:evil", "star*.evil", "../evildir/",
    "nulXhidden.evil",  # becomes "nul\0hidden.evil" by patch-names
]
# Placeholders patch-names replaces, same length so no offset moves.
RAW_NAMES = {b"cafX.txt": b"caf\x82.txt", b"nulXhidden.evil": b"nul\x00hidden.evil"}
GOOD = {
    "Gr\u00f6\u00dfe/na\u00efve \u20ac.txt": b"utf-8 name\n",
    "cafX.txt": b"oem name\n",  # becomes "caf\x82.txt", CP437 for "caf\u00e9.txt"
    "sub/deeper/good.txt": b"good\n" * 1000,
    "empty dir/": b"",
}


def make_names(out, definition):
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.write(definition, "SETUP42.xml")
        for name, data in GOOD.items():
            z.writestr(name, data)
        for name in HOSTILE:
            z.writestr(name, b"EVIL DATA\n")
    print(len(HOSTILE))


def patch_names(path):
    data = open(path, "rb").read()
    for old, new in RAW_NAMES.items():
        if data.count(old) != 2:  # local and central header
            sys.exit(f"{old!r} found {data.count(old)} times")
        data = data.replace(old, new)
    open(path, "wb").write(data)


def directory(data):
    """(count, size, offset) of the central directory, from the ZIP64 end record
    where a locator stands before the end record."""
    end = data.rfind(b"PK\5\6")
    if data[end - 20:end - 16] == b"PK\6\7":
        zip64, = struct.unpack_from("<Q", data, end - 12)
        return struct.unpack_from("<QQQ", data, zip64 + 32)
    return struct.unpack_from("<HII", data, end + 10)


def central_headers(data):
    """Yields (position, name) of every central header; offsets are absolute."""
    count, _, cd_offset = directory(data)
    pos = cd_offset
    for _ in range(count):
        n, m, k = struct.unpack_from("<HHH", data, pos + 28)
        yield pos, data[pos + 46:pos + 46 + n].decode("utf-8", "replace")
        pos += 46 + n + m + k


def find_member(data, name):
    for pos, member in central_headers(data):
        if member == name:
            return pos
    sys.exit(f"no member {name}")


def flip(path, name):
    data = bytearray(open(path, "rb").read())
    pos = find_member(data, name)
    csize, = struct.unpack_from("<I", data, pos + 20)
    local, = struct.unpack_from("<I", data, pos + 42)
    n, m = struct.unpack_from("<HH", data, local + 26)
    data[local + 30 + n + m + csize // 2] ^= 0x5A
    open(path, "wb").write(data)


def set_field(path, name, field, value):
    data = bytearray(open(path, "rb").read())
    where = {"csize": 20, "usize": 24, "offset": 42}[field]
    struct.pack_into("<I", data, find_member(data, name) + where, int(value, 16))
    open(path, "wb").write(data)


def tail_is_end(path):
    data = open(path, "rb").read()
    sys.exit(0 if data[-22:-18] == b"PK\5\6" else 1)


def unsign(source, out):
    data = open(source, "rb").read()
    members, directory = b"", b""
    for pos, _ in central_headers(data):
        n, m, k = struct.unpack_from("<HHH", data, pos + 28)
        csize, = struct.unpack_from("<I", data, pos + 20)
        local, = struct.unpack_from("<I", data, pos + 42)
        ln, lm = struct.unpack_from("<HH", data, local + 26)
        end = local + 30 + ln + lm + csize
        if data[end:end + 4] != b"PK\7\10":
            sys.exit("a member without a signed descriptor")
        header = bytearray(data[pos:pos + 46 + n + m + k])
        struct.pack_into("<I", header, 42, len(members))
        members += data[local:end] + data[end + 4:end + 16]
        directory += header
    end = data.rfind(b"PK\5\6")
    record = bytearray(data[end:])
    struct.pack_into("<II", record, 12, len(directory), len(members))
    open(out, "wb").write(members + directory + record)


def append(stub, out, kind, count="0"):
    package = io.BytesIO(open(stub, "rb").read())  # written whole at the end: many small writes
    with zipfile.ZipFile(package, "a", zipfile.ZIP_DEFLATED) as z:
        if kind == "force":
            for i, data in enumerate([b"", b"small\n", b"zip64 " * 5000]):
                with z.open(f"force/m{i}.txt", "w", force_zip64=True) as f:
                    f.write(data)
        else:
            for i in range(int(count)):
                z.writestr(f"d{i // 1000:02}/m{i:05}.txt", b"%d\n" % i)
    open(out, "wb").write(package.getvalue())


CENTRAL_FIELDS = {"usize": 24, "csize": 20, "offset": 42}  # in the ZIP64 extra's order


def zip64_end(count, cd_size, cd_offset, comment=b""):
    """ZIP64 end record, locator and an end record of placeholders."""
    record = struct.pack("<4sQHHIIQQQQ", b"PK\6\6", 44, 45, 45, 0, 0, count, count, cd_size,
                         cd_offset)
    locator = struct.pack("<4sIQI", b"PK\6\7", 0, cd_offset + cd_size, 1)
    end = struct.pack("<4sHHHHIIH", b"PK\5\6", 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                      len(comment))
    return record + locator + end + comment


def zip64ify(path, fields):
    data = open(path, "rb").read()
    count, _, cd_offset = directory(data)
    directory_bytes = b""
    for pos, _ in central_headers(data):
        n, m, k = struct.unpack_from("<HHH", data, pos + 28)
        header = bytearray(data[pos:pos + 46])
        values = b""
        for field in fields.split(","):
            where = CENTRAL_FIELDS[field]
            values += struct.pack("<Q", *struct.unpack_from("<I", header, where))
            struct.pack_into("<I", header, where, 0xFFFFFFFF)
        # behind another block, so that readers must walk the extra field
        extra = data[pos + 46 + n:pos + 46 + n + m] + b"zg\2\0\0\0"
        extra += struct.pack("<HH", 1, len(values)) + values
        struct.pack_into("<HH", header, 4, 45, 45)
        struct.pack_into("<H", header, 30, len(extra))
        directory_bytes += header + data[pos + 46:pos + 46 + n] + extra
        directory_bytes += data[pos + 46 + n + m:pos + 46 + n + m + k]
    out = data[:cd_offset] + directory_bytes
    out += zip64_end(count, len(directory_bytes), cd_offset)
    open(path, "wb").write(out)


def zip64_extra_of(data, name):
    """Position of the ZIP64 extra block in NAME's central header."""
    pos = find_member(data, name)
    n, m = struct.unpack_from("<HH", data, pos + 28)
    block = pos + 46 + n
    while block < pos + 46 + n + m:
        kind, length = struct.unpack_from("<HH", data, block)
        if kind == 1:
            return block
        block += 4 + length
    sys.exit(f"{name} has no ZIP64 extra")


def local_offset(data, name):
    """NAME's local header offset, from its ZIP64 extra where it has one."""
    pos = find_member(data, name)
    offset, = struct.unpack_from("<I", data, pos + 42)
    if offset != 0xFFFFFFFF:
        return offset
    holders = [struct.unpack_from("<I", data, pos + where)[0] == 0xFFFFFFFF
               for where in CENTRAL_FIELDS.values()]
    return struct.unpack_from("<Q", data, zip64_extra_of(data, name) + 4 + 8 * sum(holders[:2]))[0]


def set_u64(data, where, value):
    struct.pack_into("<Q", data, where, value)


# Damage to a zip64ify'd package: what each kind does to its bytes.
def damage(path, kind):
    data = bytearray(open(path, "rb").read())
    end = data.rfind(b"PK\5\6")
    locator = end - 20
    record, = struct.unpack_from("<Q", data, locator + 8)
    count, cd_size, cd_offset = struct.unpack_from("<QQQ", data, record + 32)
    if kind == "no-locator":
        data[locator:locator + 4] = b"\0\0\0\0"
    elif kind == "locator-into-data":  # a copy of the record planted in member data
        local = local_offset(data, "sounddrv.bin")
        decoy = local + 30 + sum(struct.unpack_from("<HH", data, local + 26)) + 100
        data[decoy:decoy + 56] = data[record:record + 56]
        set_u64(data, locator + 8, decoy)
    elif kind == "locator-before":
        set_u64(data, locator + 8, 0)
    elif kind == "locator-past":
        set_u64(data, locator + 8, len(data) + 100)
    elif kind == "record-not-at-locator":
        set_u64(data, record + 4, 44 + 8)
    elif kind == "count-disagrees":
        struct.pack_into("<H", data, end + 10, count + 1)
    elif kind == "count-huge":
        set_u64(data, record + 24, 1 << 40)
        set_u64(data, record + 32, 1 << 40)
    elif kind == "count-over":
        set_u64(data, record + 24, count + 1)
        set_u64(data, record + 32, count + 1)
    elif kind == "directory-moved":
        set_u64(data, record + 48, cd_offset - 1)
    elif kind == "extra-short":  # the offset the placeholder calls for is missing
        block = zip64_extra_of(data, "readme.txt")
        struct.pack_into("<H", data, block + 2, 16)
        data[block + 4 + 16:block + 4 + 24] = b"zg\4\0\0\0\0\0"
    elif kind == "extra-past":
        struct.pack_into("<H", data, zip64_extra_of(data, "readme.txt") + 2, 200)
    elif kind == "size-past":  # csize and usize beyond the file
        block = zip64_extra_of(data, "readme.txt")
        set_u64(data, block + 4, 1 << 62)
        set_u64(data, block + 12, 1 << 62)
    else:
        sys.exit(f"unknown damage {kind}")
    open(path, "wb").write(data)


# Marks in big.bin (offset, bytes): the rest is zeros, left as holes.
def big_marks(size):
    return [(0, b"first bytes"), ((1 << 32) - 5, b"across 4 GiB"), (size - 10, b"last bytes")]


def crc32_zeros(crc, length):
    """CRC-32 of the data so far followed by LENGTH zero bytes, without reading
    them (the zero-byte operator squared up, as zlib's crc32_combine does)."""
    def times(matrix, vector):
        total, i = 0, 0
        while vector:
            if vector & 1:
                total ^= matrix[i]
            vector >>= 1
            i += 1
        return total

    op = [0xEDB88320] + [1 << n for n in range(31)]  # one zero bit
    for _ in range(3):
        op = [times(op, row) for row in op]  # one zero byte
    register = crc ^ 0xFFFFFFFF
    while length:
        if length & 1:
            register = times(op, register)
        length >>= 1
        if length:
            op = [times(op, row) for row in op]
    return register ^ 0xFFFFFFFF


def big(stub, out, size):
    size = int(size)
    shutil.copyfile(stub, out)
    crc, done = 0, 0
    for at, mark in big_marks(size):
        crc = zlib.crc32(mark, crc32_zeros(crc, at - done))
        done = at + len(mark)
    crc = crc32_zeros(crc, size - done)
    after = b"after the big member\n"
    members = [(b"big.bin", size, crc), (b"after.txt", len(after), zlib.crc32(after))]
    with open(out, "r+b") as f:
        f.seek(0, os.SEEK_END)
        directory_bytes = b""
        for name, length, member_crc in members:
            offset = f.tell()
            sizes = struct.pack("<HHQQ", 1, 16, length, length)
            f.write(struct.pack("<4sHHHHHIIIHH", b"PK\3\4", 45, 0, 0, 0, 0x21, member_crc,
                                0xFFFFFFFF, 0xFFFFFFFF, len(name), len(sizes)) + name + sizes)
            if name == b"big.bin":
                for at, mark in big_marks(size):
                    f.seek(offset + 30 + len(name) + len(sizes) + at)
                    f.write(mark)
            else:
                f.write(after)
            values = (struct.pack("<QQ", length, length) if length > 0xFFFFFFFF else b"")
            values += struct.pack("<Q", offset) if offset > 0xFFFFFFFF else b""
            extra = struct.pack("<HH", 1, len(values)) + values if values else b""
            small = min(length, 0xFFFFFFFF)
            directory_bytes += struct.pack(
                "<4sHHHHHHIIIHHHHHII", b"PK\1\2", 45, 45, 0, 0, 0, 0x21, member_crc, small,
                small, len(name), len(extra), 0, 0, 0, 0, min(offset, 0xFFFFFFFF)) + name + extra
        cd_offset = f.tell()
        f.write(directory_bytes + zip64_end(len(members), len(directory_bytes), cd_offset))


if __name__ == "__main__":
    cmd, args = sys.argv[1], sys.argv[2:]
    {"names": make_names, "patch-names": patch_names, "flip": flip, "set": set_field,
     "tail-is-end": tail_is_end, "unsign": unsign, "append": append, "zip64ify": zip64ify,
     "damage": damage, "big": big}[cmd](*args)

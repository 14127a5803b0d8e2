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
"""
import struct
import sys
import zipfile

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


def central_headers(data):
    """Yields (position, name) of every central header; offsets are absolute."""
    end = data.rfind(b"PK\5\6")
    count, _, cd_offset = struct.unpack_from("<HII", data, end + 10)
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


if __name__ == "__main__":
    cmd, args = sys.argv[1], sys.argv[2:]
    {"names": make_names, "patch-names": patch_names, "flip": flip, "set": set_field,
     "tail-is-end": tail_is_end, "unsign": unsign}[cmd](*args)

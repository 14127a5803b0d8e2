"""Writes a ZIP archive for the package tests.

usage: make_archive.py OUT.zip [--deflate] [--declare NAME=SIZE] NAME=FILE...

Members are stored unless --deflate is given. --declare rewrites the
uncompressed size that the local and central headers give for NAME, so the
archive lies about how large the member is.
"""
import struct
import sys
import zipfile


def patch_declared_size(path, name, size):
    data = bytearray(open(path, "rb").read())
    encoded = name.encode()
    for signature, size_at, name_len_at, header in ((b"PK\x03\x04", 22, 26, 30),
                                                     (b"PK\x01\x02", 24, 28, 46)):
        at = data.find(signature)
        while at >= 0:
            length = struct.unpack_from("<H", data, at + name_len_at)[0]
            if data[at + header:at + header + length] == encoded:
                struct.pack_into("<I", data, at + size_at, size)
            at = data.find(signature, at + 4)
    open(path, "wb").write(bytes(data))


def main(args):
    out = args.pop(0)
    method = zipfile.ZIP_STORED
    declared = []
    members = []
    while args:
        arg = args.pop(0)
        if arg == "--deflate":
            method = zipfile.ZIP_DEFLATED
        elif arg == "--declare":
            name, size = args.pop(0).split("=", 1)
            declared.append((name, int(size)))
        else:
            members.append(arg.split("=", 1))
    with zipfile.ZipFile(out, "w", method) as archive:
        for name, source in members:
            archive.write(source, name)
    for name, size in declared:
        patch_declared_size(out, name, size)


main(sys.argv[1:])

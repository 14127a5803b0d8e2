"""Writes a ZIP archive for the package tests.

usage: make_archive.py OUT.zip [--deflate] NAME=FILE...   (members are stored by default)
"""
import sys
import zipfile

out, args = sys.argv[1], sys.argv[2:]
method = zipfile.ZIP_DEFLATED if "--deflate" in args else zipfile.ZIP_STORED
with zipfile.ZipFile(out, "w", method) as archive:
    for name, source in (arg.split("=", 1) for arg in args if arg != "--deflate"):
        archive.write(source, name)

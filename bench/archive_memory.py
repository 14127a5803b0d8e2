#!/usr/bin/env python3
"""Peak memory of a build on archives whose headers claim much and hold little.

    python3 bench/archive_memory.py [--zipgraft PATH] [--stub PATH] [--scratch DIR]

Two archives, each holding the example definition SETUP42.xml, are built in a scratch
directory and packaged by zipgraft under /usr/bin/time -f %M:
  shared-extra  16,000 central headers sharing one local header with a 65,535-byte extra
                field, behind a 1.1 GB hole (a sparse file, under 1 MB on disk)
  long-extras   4,000 members with a 65,535-byte local extra field each (262 MB), their
                central headers without one
Printed per archive: the central directory's size, the peak RSS and the bound (64 MiB plus
twice the central directory), with "met" or "MISSED". The exit code is 1 when a bound is
missed. A benchmark, not a test: it is registered nowhere in CTest.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFINITION = os.path.join(ROOT, "examples", "package", "SETUP42.xml")
MIB = 1 << 20
DOS_TIME, DOS_DATE = 0x6000, 0x5A21


def local_header(name, data, extra):
    return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, DOS_TIME, DOS_DATE,
                       zlib.crc32(data), len(data), len(data), len(name), len(extra)) + name + extra


def central_header(name, data, offset, extra=b""):
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 20, 0, 0, DOS_TIME, DOS_DATE,
                       zlib.crc32(data), len(data), len(data), len(name), len(extra), 0, 0, 0,
                       0x81A40000, offset) + name + extra


def end_record(count, size, offset):
    return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, size, offset, 0)


def extra_field(seed):
    # One private block (id 0x9999) filling the longest field a header can state.
    return struct.pack("<HH", 0x9999, 65531) + bytes([seed & 0xFF]) * 65531


def make_shared(path):
    with open(DEFINITION, "rb") as f:
        definition = f.read()
    name = b"SETUP42.xml"
    with open(path, "wb") as out:
        out.write(local_header(name, definition, extra_field(1)) + definition)
        out.seek(1100 * 1000 * 1000)  # a hole: the file is sparse
        directory_at = out.tell()
        directory = central_header(name, definition, 0) * 16000
        out.write(directory + end_record(16000, len(directory), directory_at))
    return len(directory)


def make_long_extras(path):
    with open(DEFINITION, "rb") as f:
        definition = f.read()
    members = [(b"SETUP42.xml", definition)]
    members += [(b"m/%04d.txt" % i, b"member %d\n" % i) for i in range(1, 4000)]
    directory = b""
    with open(path, "wb") as out:
        for i, (name, data) in enumerate(members):
            directory += central_header(name, data, out.tell())
            out.write(local_header(name, data, extra_field(i)) + data)
        directory_at = out.tell()
        out.write(directory + end_record(len(members), len(directory), directory_at))
    return len(directory)


def peak_rss_kib(argv):
    run = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True)
    if run.returncode != 0:
        sys.exit("build failed: %s\n%s" % (" ".join(argv), run.stderr))
    return int(run.stderr.strip().splitlines()[-1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zipgraft", default=os.path.join(ROOT, "build", "src", "app", "zipgraft"))
    parser.add_argument("--stub", default=os.path.join(ROOT, "examples", "stub", "stub.exe"))
    parser.add_argument("--scratch")
    args = parser.parse_args()
    scratch = tempfile.mkdtemp(dir=args.scratch)
    missed = False
    try:
        for label, make in (("shared-extra", make_shared), ("long-extras", make_long_extras)):
            archive = os.path.join(scratch, label + ".zip")
            directory = make(archive)
            output = os.path.join(scratch, "SETUP42.exe")
            rss = peak_rss_kib([args.zipgraft, args.stub, archive, output])
            bound = (64 * MIB + 2 * directory) // 1024
            verdict = "met" if rss <= bound else "MISSED"
            missed |= rss > bound
            print("%-13s directory %9d bytes  peak RSS %8d KiB  bound %8d KiB  %s"
                  % (label, directory, rss, bound, verdict))
            os.remove(archive)
            os.remove(output)
    finally:
        shutil.rmtree(scratch)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())

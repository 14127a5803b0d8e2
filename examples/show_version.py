"""Prints the version information of a Windows executable as pefile reads it."""
import sys

import pefile


def main(path):
    pe = pefile.PE(path)
    for fixed in getattr(pe, "VS_FIXEDFILEINFO", []):
        ms, ls = fixed.FileVersionMS, fixed.FileVersionLS
        print(f"FileVersion (fixed): {ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}")
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                print(f"String table {table.LangID.decode()}:")
                for key, value in table.entries.items():
                    print(f"  {key.decode()}: {value.decode()}")


if __name__ == "__main__":
    main(sys.argv[1])

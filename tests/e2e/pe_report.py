"""Reports what pefile reads from a Windows executable, one fact per line, for
the whole-program tests:
  warning <text>
  fixed <field> <value>
  string <table> <key>=<value>        (in the order the block holds them)
  resource <type> <name> <lang> <codepage> <data as hex>
"""
import sys

import pefile

FIXED_FIELDS = ("Signature", "StrucVersion", "FileVersionMS", "FileVersionLS",
                "ProductVersionMS", "ProductVersionLS", "FileFlagsMask", "FileFlags",
                "FileOS", "FileType", "FileSubtype", "FileDateMS", "FileDateLS")


def label(entry):
    return str(entry.name) if entry.name is not None else str(entry.id)


def main(path):
    pe = pefile.PE(path)
    for w in pe.get_warnings():
        print("warning", w)
    for fixed in getattr(pe, "VS_FIXEDFILEINFO", []):
        for field in FIXED_FIELDS:
            print("fixed", field, "0x%08x" % getattr(fixed, field))
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                for key, value in table.entries.items():
                    print("string", table.LangID.decode(),
                          key.decode() + "=" + value.decode())
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for t in (root.entries if root else []):
        for n in t.directory.entries:
            for lang in n.directory.entries:
                s = lang.data.struct
                data = pe.get_data(s.OffsetToData, s.Size)
                print("resource", label(t), label(n), lang.id, s.CodePage, data.hex())


if __name__ == "__main__":
    main(sys.argv[1])

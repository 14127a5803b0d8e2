"""Prints what pefile reads from an image's resources, one tab-separated
record per line, for the version tests to compare against:

  warning  <text>
  resource <type> <name> <lang> <codepage> <data hex>
  fixed    <name> <lang> <52 bytes hex>
  string   <name> <lang> <table> <key> <value>     (in file order)
"""
import sys

import pefile

RT_VERSION = 16


def label(entry):
    return str(entry.name) if entry.name is not None else str(entry.id)


def version_records(pe, name, lang, data_struct):
    # Parse each version resource on its own so that records never get mixed up.
    for attr in ("VS_VERSIONINFO", "VS_FIXEDFILEINFO", "FileInfo"):
        if hasattr(pe, attr):
            delattr(pe, attr)
    pe.parse_version_information(data_struct)
    if hasattr(pe, "VS_FIXEDFILEINFO"):
        print("fixed", name, lang, pe.VS_FIXEDFILEINFO[0].__pack__().hex(), sep="\t")
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for table in getattr(info, "StringTable", []):
            for key, value in table.entries.items():
                print("string", name, lang, table.LangID.decode(), key.decode(), value.decode(),
                      sep="\t")


def main(path):
    pe = pefile.PE(path)
    for warning in pe.get_warnings():
        print("warning", warning, sep="\t")
    for rtype in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None).entries:
        for rname in rtype.directory.entries:
            for rlang in rname.directory.entries:
                s = rlang.data.struct
                data = pe.get_data(s.OffsetToData, s.Size)
                print("resource", label(rtype), label(rname), rlang.id, s.CodePage, data.hex(),
                      sep="\t")
                if rtype.id == RT_VERSION:
                    version_records(pe, label(rname), rlang.id, s)


if __name__ == "__main__":
    main(sys.argv[1])

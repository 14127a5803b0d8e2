"""What python3-pefile, a reader nobody here wrote, makes of PE files, for the
tests to compare with ours. Only pefile and the standard library are used.

  pefile_tool.py dump FILE
      one tab-separated record per line:
        warning  <text>
        resource <type> <name> <lang> <codepage> <data hex>
        fixed    <name> <lang> <52 bytes hex>
        string   <name> <lang> <table> <key> <value>     (in file order)
  pefile_tool.py check RESULT ORIGINAL BLOCK LANG
      checks an updated image against the image it came from (sections moved
      only where discardable, debug data and symbols kept); prints
      "FAIL: ..." lines and "SECTIONS n"; exit status 1 when anything failed
  pefile_tool.py package RESULT ORIGINAL
      checks a package against its stub: no new warning, every section but
      the resources' the same bytes (at the same address, unless it is
      discardable), base relocations, debug data and the COFF symbol table
      the same at their new offsets, what the loader maps of each section and
      the stub's overlay kept, the checksum holding where the stub had one; prints "FAIL: ..." lines, "SECTIONS n" and "MOVED name" per moved
      section; exit status 1 when anything failed
  pefile_tool.py codepages IN OUT
      copies IN to OUT with code page 1252 + n in the n-th resource data entry
  pefile_tool.py checksum FILE
      prints the header checksum and "holds" or "stale" for the whole file
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


def dump(path):
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


def leaves(pe):
    out = []
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return out
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                s = lang.data.struct
                key = (str(t.name) if t.name is not None else t.id,
                       str(n.name) if n.name is not None else n.id, lang.id)
                out.append((key, s, pe.get_data(s.OffsetToData, s.Size), s.CodePage))
    return out


def mapped_bytes(pe, s):
    """What the loader takes from the file: the raw size rounded up to the
    file alignment, but no more than the size in memory."""
    alignment = pe.OPTIONAL_HEADER.FileAlignment
    rounded = -(-s.SizeOfRawData // alignment) * alignment
    size = min(s.Misc_VirtualSize or s.SizeOfRawData, rounded)
    return without_debug_offsets(pe, s, pe.__data__[s.PointerToRawData:s.PointerToRawData + size])


def section_bytes(pe, s):
    """A section's raw data, the debug entries' file offsets in it (which a
    rebuild moves with the data they name) blanked."""
    return without_debug_offsets(
        pe, s, pe.__data__[s.PointerToRawData:s.PointerToRawData + s.SizeOfRawData])


def without_debug_offsets(pe, s, data):
    data = bytearray(data)
    for entry in real_debug_entries(pe):
        at = entry.struct.get_file_offset() + 24 - s.PointerToRawData
        if 0 <= at <= len(data) - 4:
            data[at:at + 4] = b"\0" * 4
    return bytes(data)


def bytes_behind(pe):
    """What follows the image, but for a certificate table among it."""
    start = image_end(pe)
    data = bytes(pe.__data__[start:])
    sec = pe.OPTIONAL_HEADER.DATA_DIRECTORY[4]
    if sec.Size and sec.VirtualAddress >= start:
        cut = sec.VirtualAddress - start
        data = data[:cut] + data[cut + sec.Size:]
    return data


def image_end(pe):
    """Where the bytes behind the image start: past every section's raw data
    and what the loader maps past it."""
    end = pe.OPTIONAL_HEADER.SizeOfHeaders
    for s in pe.sections:
        if s.SizeOfRawData:
            end = max(end, s.PointerToRawData + max(s.SizeOfRawData, len(mapped_bytes(pe, s))))
    return end


def overlay_of(pe):
    start = pe.get_overlay_data_start_offset()
    data = bytes(pe.__data__[start:]) if start is not None else b""
    sec = pe.OPTIONAL_HEADER.DATA_DIRECTORY[4]
    if sec.Size and start is not None and sec.VirtualAddress >= start:
        cut = sec.VirtualAddress - start
        data = data[:cut] + data[cut + sec.Size:]
    return data


def check(result_path, original_path, block_path, lang):
    fails = []
    new = pefile.PE(result_path)
    old = pefile.PE(original_path)
    block = open(block_path, "rb").read()
    if new.get_warnings():
        fails.append("warnings: %r" % new.get_warnings())
    new_leaves = {k: (d, cp) for k, _, d, cp in leaves(new)}
    old_leaves = {k: (d, cp) for k, _, d, cp in leaves(old)}
    target = (RT_VERSION, 1, lang)
    if new_leaves.get(target, (None,))[0] != block:
        fails.append("version block differs")
    old_leaves.pop(target, None)
    new_leaves.pop(target, None)
    if old_leaves != new_leaves:
        fails.append("other resources differ: %r vs %r" % (sorted(old_leaves), sorted(new_leaves)))
    rsrc_rva = new.OPTIONAL_HEADER.DATA_DIRECTORY[2].VirtualAddress
    old_rsrc = old.OPTIONAL_HEADER.DATA_DIRECTORY[2].VirtualAddress
    new_by_name = {}
    for s in new.sections:
        new_by_name.setdefault(s.Name, []).append(s)
    for s in old.sections:
        if old_rsrc and s.contains_rva(old_rsrc):
            continue
        same = [n for n in new_by_name.get(s.Name, [])
                if section_bytes(new, n) == section_bytes(old, s)
                and n.SizeOfRawData == s.SizeOfRawData and n.Misc_VirtualSize == s.Misc_VirtualSize]
        if not same:
            fails.append("section %r changed" % s.Name)
        elif (s.Name.rstrip(b"\0") != b".reloc" and not s.Characteristics & 0x02000000
              and same[0].VirtualAddress != s.VirtualAddress):
            fails.append("section %r moved" % s.Name)
    rsrc = [s for s in new.sections if s.contains_rva(rsrc_rva)]
    if len(rsrc) != 1 or rsrc[0].VirtualAddress != rsrc_rva:
        fails.append("resource directory not at the start of a section")
    if new.OPTIONAL_HEADER.AddressOfEntryPoint != old.OPTIONAL_HEADER.AddressOfEntryPoint:
        fails.append("entry point changed")
    reloc = new.OPTIONAL_HEADER.DATA_DIRECTORY[5]
    old_reloc = old.OPTIONAL_HEADER.DATA_DIRECTORY[5]
    if old_reloc.VirtualAddress:
        relocs = [s for s in new.sections if s.Name.rstrip(b"\0") == b".reloc"]
        new_data = new.get_data(reloc.VirtualAddress, reloc.Size)
        old_data = old.get_data(old_reloc.VirtualAddress, old_reloc.Size)
        if reloc.Size != old_reloc.Size or not relocs or new_data != old_data:
            fails.append("base relocations lost")
    if overlay_of(new) != overlay_of(old):
        fails.append("overlay differs")
    if debug_data(new) != debug_data(old):
        fails.append("debug data differs")
    if symbol_table(new) != symbol_table(old):
        fails.append("COFF symbol table differs")
    security = new.OPTIONAL_HEADER.DATA_DIRECTORY[4]
    if security.VirtualAddress or security.Size:
        fails.append("certificate table kept")
    want = new.generate_checksum() if old.OPTIONAL_HEADER.CheckSum else 0
    if new.OPTIONAL_HEADER.CheckSum != want:
        fails.append("checksum %#x, expected %#x" % (new.OPTIONAL_HEADER.CheckSum, want))
    last = max(new.sections, key=lambda s: s.VirtualAddress)
    alignment = new.OPTIONAL_HEADER.SectionAlignment
    image_end = (last.VirtualAddress + max(last.Misc_VirtualSize, 1) + alignment - 1) \
        // alignment * alignment
    if new.OPTIONAL_HEADER.SizeOfImage != image_end:
        fails.append("SizeOfImage %#x, expected %#x" % (new.OPTIONAL_HEADER.SizeOfImage, image_end))
    # The loader wants the sections to follow each other without gaps.
    ordered = sorted(new.sections, key=lambda s: s.VirtualAddress)
    for prev, nxt in zip(ordered, ordered[1:]):
        size = prev.Misc_VirtualSize or prev.SizeOfRawData
        if (prev.VirtualAddress + size + alignment - 1) // alignment * alignment != nxt.VirtualAddress:
            fails.append("gap or overlap before section %r" % nxt.Name)
    for f in fails:
        print("FAIL:", f)
    print("SECTIONS", len(new.sections))
    return 1 if fails else 0


def symbol_table(pe):
    start = pe.FILE_HEADER.PointerToSymbolTable
    if not start:
        return b""
    strings = start + 18 * pe.FILE_HEADER.NumberOfSymbols
    length = int.from_bytes(pe.__data__[strings:strings + 4], "little")
    return bytes(pe.__data__[start:strings + length])


def real_debug_entries(pe):
    """The entries that name data: pefile reads every 28-byte slot of the
    directory, also those of a size that runs on over other bytes."""
    size = len(pe.__data__)
    return [e for e in getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])
            if e.struct.Characteristics == 0 and e.struct.SizeOfData
            and e.struct.PointerToRawData + e.struct.SizeOfData <= size]


def debug_data(pe):
    out = []
    for entry in real_debug_entries(pe):
        s = entry.struct
        by_offset = bytes(pe.__data__[s.PointerToRawData:s.PointerToRawData + s.SizeOfData])
        by_address = pe.get_data(s.AddressOfRawData, s.SizeOfData) if s.AddressOfRawData else b""
        out.append((s.Type, by_offset, by_address))
    return out


def package(result_path, original_path):
    fails = []
    new = pefile.PE(result_path)
    old = pefile.PE(original_path)
    added = set(new.get_warnings()) - set(old.get_warnings())
    if added:
        fails.append("new warnings: %r" % sorted(added))
    old_rsrc = old.OPTIONAL_HEADER.DATA_DIRECTORY[2].VirtualAddress
    moved = []
    for i, s in enumerate(old.sections):
        if old_rsrc and s.contains_rva(old_rsrc):
            continue
        n = new.sections[i]
        if (n.Name != s.Name or section_bytes(new, n) != section_bytes(old, s)
                or n.Misc_VirtualSize != s.Misc_VirtualSize):
            fails.append("section %r changed" % s.Name)
        elif mapped_bytes(new, n) != mapped_bytes(old, s):
            fails.append("section %r maps other bytes" % s.Name)
        elif n.VirtualAddress != s.VirtualAddress:
            moved.append(s.Name.rstrip(b"\0").decode())
            if not s.Characteristics & 0x02000000:
                fails.append("section %r moved" % s.Name)
    if not bytes_behind(new).startswith(bytes_behind(old)):
        fails.append("the stub's overlay does not follow the image")
    reloc, old_reloc = new.OPTIONAL_HEADER.DATA_DIRECTORY[5], old.OPTIONAL_HEADER.DATA_DIRECTORY[5]
    if old_reloc.VirtualAddress and (
            reloc.Size != old_reloc.Size or new.get_data(reloc.VirtualAddress, reloc.Size)
            != old.get_data(old_reloc.VirtualAddress, old_reloc.Size)):
        fails.append("base relocations differ")
    if debug_data(new) != debug_data(old):
        fails.append("debug data differs")
    if symbol_table(new) != symbol_table(old):
        fails.append("COFF symbol table differs")
    if old.OPTIONAL_HEADER.CheckSum and not new.verify_checksum():
        fails.append("checksum does not hold")
    for f in fails:
        print("FAIL:", f)
    print("SECTIONS", len(new.sections))
    for name in moved:
        print("MOVED", name)
    return 1 if fails else 0


def codepages(source, target):
    pe = pefile.PE(source)
    for i, (_, s, _, _) in enumerate(leaves(pe)):
        pe.set_dword_at_offset(s.get_file_offset() + 8, 1252 + i)
    pe.OPTIONAL_HEADER.CheckSum = 0
    pe.write(target)


def checksum(path):
    pe = pefile.PE(path, fast_load=True)
    print("%#x" % pe.OPTIONAL_HEADER.CheckSum, "holds" if pe.verify_checksum() else "stale")


def main():
    command = sys.argv[1]
    if command == "dump":
        dump(sys.argv[2])
    elif command == "check":
        sys.exit(check(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])))
    elif command == "package":
        sys.exit(package(sys.argv[2], sys.argv[3]))
    elif command == "codepages":
        codepages(sys.argv[2], sys.argv[3])
    elif command == "checksum":
        checksum(sys.argv[2])
    else:
        sys.exit("unknown command: " + command)


if __name__ == "__main__":
    main()

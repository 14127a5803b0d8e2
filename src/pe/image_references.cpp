#include "pe/image_references.h"

#include <algorithm>

#include "bytes/align.h"
#include "bytes/byte_reader.h"
#include "pe/reference_reader.h"

namespace pe {
namespace {

constexpr int kDirectoryExport = 0;
constexpr int kDirectoryImport = 1;
constexpr int kDirectoryException = 3;
constexpr int kDirectoryTls = 9;
constexpr int kDirectoryLoadConfig = 10;
constexpr int kDirectoryDelayImport = 13;
constexpr int kDirectoryClr = 14;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMachineArm64 = 0xAA64;
constexpr uint32_t kSymbolSize = 18;

// A lookup table of import names: entries of pointer size up to a zero one;
// each entry without the ordinal flag is the address of a hint and a name.
bool ReadThunks(ReferenceReader& r, ReferenceKind kind, uint64_t rva, bool holdsAddresses) {
  const uint32_t size = r.PointerSize();
  const uint64_t ordinalFlag = uint64_t{1} << (8 * size - 1);
  for (uint64_t at = rva;; at += size) {
    const auto entry = r.Value(at, size);
    if (!entry || !r.Step("import lookup table")) return r.Fail("import lookup table");
    if (*entry == 0) {
      r.Add(kind, rva, at + size - rva);
      return true;
    }
    if ((*entry & ordinalFlag) != 0) continue;
    const uint64_t name = holdsAddresses ? *entry - r.Image().imageBase : *entry & 0x7FFFFFFF;
    r.Add(kind, name, 2);
    if (!r.AddText(kind, name + 2, "import name")) return false;
  }
}

bool ReadImports(ReferenceReader& r, DataDirectory d) {
  constexpr uint32_t kDescriptor = 20;
  for (uint64_t at = d.rva;; at += kDescriptor) {
    const auto lookup = r.Value(at, 4), name = r.Value(at + 12, 4), iat = r.Value(at + 16, 4);
    if (!lookup || !name || !iat || !r.Step("import descriptor")) {
      return r.Fail("import descriptors");
    }
    if (*name == 0 && *iat == 0) {
      r.Add(ReferenceKind::Import, d.rva, at + kDescriptor - d.rva);
      return true;
    }
    // A bound address table holds the other module's addresses: the names
    // are then read from the lookup table only.
    const bool bound = r.Value(at + 4, 4).value_or(0) != 0;
    if (!r.AddText(ReferenceKind::Import, *name, "import module name") ||
        (*lookup != 0 && !ReadThunks(r, ReferenceKind::Import, *lookup, false))) {
      return false;
    }
    if (*lookup == 0 || bound) {
      if (*lookup == 0 && !ReadThunks(r, ReferenceKind::Import, *iat, false)) return false;
      r.Add(ReferenceKind::Import, *iat, r.PointerSize());
    } else if (!ReadThunks(r, ReferenceKind::Import, *iat, false)) {
      return false;
    }
  }
}

bool ReadExports(ReferenceReader& r, DataDirectory d) {
  const auto name = r.Value(d.rva + 12, 4), functions = r.Value(d.rva + 20, 4),
             names = r.Value(d.rva + 24, 4), functionTable = r.Value(d.rva + 28, 4),
             nameTable = r.Value(d.rva + 32, 4), ordinalTable = r.Value(d.rva + 36, 4);
  if (!name || !functions || !names || !functionTable || !nameTable || !ordinalTable ||
      (*functions != 0 && !r.Readable(*functionTable, *functions * 4)) ||
      (*names != 0 && (!r.Readable(*nameTable, *names * 4) ||
                       !r.Readable(*ordinalTable, *names * 2)))) {
    return r.Fail("export directory");
  }
  r.Add(ReferenceKind::Export, d.rva, 40);
  if (*name != 0 && !r.AddText(ReferenceKind::Export, *name, "export module name")) return false;
  r.Add(ReferenceKind::Export, *functionTable, *functions * 4);
  r.Add(ReferenceKind::Export, *nameTable, *names * 4);
  r.Add(ReferenceKind::Export, *ordinalTable, *names * 2);
  for (uint64_t i = 0; i < *functions; ++i) {
    const uint64_t address = *r.Value(*functionTable + 4 * i, 4);
    if (!r.Step("export address table")) return false;
    if (address != 0) r.Add(ReferenceKind::Export, address);
  }
  for (uint64_t i = 0; i < *names; ++i) {
    if (!r.Step("export name table") ||
        !r.AddText(ReferenceKind::Export, *r.Value(*nameTable + 4 * i, 4), "export name")) {
      return false;
    }
  }
  return true;
}

// Delay-import descriptors; the oldest linkers stored virtual addresses in
// them, which the attribute bit 0 tells apart.
bool ReadDelayImports(ReferenceReader& r, DataDirectory d) {
  constexpr uint32_t kDescriptor = 32;
  for (uint64_t at = d.rva;; at += kDescriptor) {
    uint64_t field[8];
    for (uint32_t i = 0; i < 8; ++i) {
      const auto value = r.Value(at + 4 * i, 4);
      if (!value || !r.Step("delay-import descriptor")) return r.Fail("delay-import descriptors");
      field[i] = *value;
    }
    if (field[1] == 0) {
      r.Add(ReferenceKind::DelayImport, d.rva, at + kDescriptor - d.rva);
      return true;
    }
    const bool addresses = (field[0] & 1) == 0;
    const auto rva = [&](uint64_t v) { return addresses && v != 0 ? v - r.Image().imageBase : v; };
    if (!r.AddText(ReferenceKind::DelayImport, rva(field[1]), "delay-import module name")) {
      return false;
    }
    if (field[2] != 0) r.Add(ReferenceKind::DelayImport, rva(field[2]), r.PointerSize());
    // The address table holds the addresses of the loading stubs until bound.
    for (uint64_t slot = rva(field[3]); field[3] != 0; slot += r.PointerSize()) {
      const auto target = r.Pointer(slot);
      if (!target || !r.Step("delay-import address table")) {
        return r.Fail("delay-import address table");
      }
      r.Add(ReferenceKind::DelayImport, slot, r.PointerSize());
      if (*target == 0) break;
      r.AddPointer(ReferenceKind::DelayImport, *target);
    }
    if (field[4] != 0 && !ReadThunks(r, ReferenceKind::DelayImport, rva(field[4]), addresses)) {
      return false;
    }
    for (int table : {5, 6}) {
      if (field[table] != 0) r.Add(ReferenceKind::DelayImport, rva(field[table]), r.PointerSize());
    }
  }
}

bool ReadTls(ReferenceReader& r, DataDirectory d) {
  const uint32_t p = r.PointerSize();
  const auto start = r.Pointer(d.rva), end = r.Pointer(d.rva + p), index = r.Pointer(d.rva + 2 * p),
             callbacks = r.Pointer(d.rva + 3 * p);
  if (!start || !end || !index || !callbacks) return r.Fail("TLS directory");
  const auto first = r.Image().VaToRva(*start), last = r.Image().VaToRva(*end);
  if (*start != 0 && (!first || !last || *last < *first)) return r.Fail("TLS template");
  if (first) r.Add(ReferenceKind::Tls, *first, std::max<uint64_t>(*last - *first, 1));
  r.AddPointer(ReferenceKind::Tls, *index);
  if (*callbacks == 0) return true;
  const auto array = r.Image().VaToRva(*callbacks);
  if (!array) return r.Fail("TLS callbacks");
  for (uint64_t slot = *array;; slot += p) {
    const auto callback = r.Pointer(slot);
    if (!callback || !r.Step("TLS callbacks")) return r.Fail("TLS callbacks");
    if (*callback == 0) {
      r.Add(ReferenceKind::Tls, *array, slot + p - *array);
      return true;
    }
    r.AddPointer(ReferenceKind::Tls, *callback);
  }
}

// x64 unwind information: a header, the unwind codes, then a chained
// function entry or a handler and the data handed to it, whose first word
// every common handler takes as an address (a scope table's count reads as
// one too, and harmlessly names the headers).
bool ReadUnwindInfo(ReferenceReader& r, uint64_t rva, int depth) {
  const auto header = r.Value(rva, 4);
  if (!header || depth > 32) return r.Fail("unwind information");
  const uint64_t flags = (*header >> 3) & 0x1F, codes = (*header >> 16) & 0xFF;
  const uint64_t tail = rva + 4 + 2 * (codes + (codes & 1));
  r.Add(ReferenceKind::Exception, rva, tail - rva);
  if ((flags & 4) != 0) {  // chained to another function entry
    const auto begin = r.Value(tail, 4), end = r.Value(tail + 4, 4), info = r.Value(tail + 8, 4);
    if (!begin || !end || !info) return r.Fail("chained unwind information");
    r.Add(ReferenceKind::Exception, tail, 12);
    r.Add(ReferenceKind::Exception, *begin, std::max<uint64_t>(*end - *begin, 1));
    return ReadUnwindInfo(r, *info, depth + 1);
  }
  if ((flags & 3) != 0) {  // an exception or termination handler
    const auto handler = r.Value(tail, 4);
    if (!handler) return r.Fail("unwind handler");
    r.Add(ReferenceKind::Exception, tail, 8);
    r.Add(ReferenceKind::Exception, *handler);
    if (const auto data = r.Value(tail + 4, 4); data && *data != 0) {
      r.Add(ReferenceKind::Exception, *data);
    }
  }
  return true;
}

// ARM64 unwind data: packed in the entry, or a record whose header gives the
// epilogue scopes and code words, then a handler when the X bit says so.
bool ReadArm64UnwindData(ReferenceReader& r, uint64_t rva) {
  const auto header = r.Value(rva, 4);
  if (!header) return r.Fail("unwind information");
  uint64_t epilogs = (*header >> 22) & 0x1F, words = (*header >> 27) & 0x1F, at = rva + 4;
  if (epilogs == 0 && words == 0) {
    const auto extended = r.Value(at, 4);
    if (!extended) return r.Fail("unwind information");
    epilogs = *extended & 0xFFFF;
    words = (*extended >> 16) & 0xFF;
    at += 4;
  }
  at += 4 * (((*header >> 21) & 1) != 0 ? 0 : epilogs) + 4 * words;
  r.Add(ReferenceKind::Exception, rva, at - rva);
  if (((*header >> 20) & 1) != 0) {
    const auto handler = r.Value(at, 4);
    if (!handler) return r.Fail("unwind handler");
    r.Add(ReferenceKind::Exception, at, 4);
    r.Add(ReferenceKind::Exception, *handler);
  }
  return true;
}

bool ReadExceptions(ReferenceReader& r, DataDirectory d) {
  const uint16_t machine = r.Image().machine;
  const uint32_t entry = machine == kMachineAmd64 ? 12 : machine == kMachineArm64 ? 8 : 0;
  if (entry == 0) return r.Fail("exception directory of this machine");
  if (!r.Readable(d.rva, d.size)) return r.Fail("exception directory");
  for (uint64_t at = d.rva; at + entry <= uint64_t{d.rva} + d.size; at += entry) {
    const uint64_t begin = *r.Value(at, 4), second = *r.Value(at + 4, 4);
    if (!r.Step("exception directory")) return false;
    if (machine == kMachineAmd64) {
      r.Add(ReferenceKind::Exception, begin, std::max<uint64_t>(second - begin, 1));
      if (!ReadUnwindInfo(r, *r.Value(at + 8, 4), 0)) return false;
    } else {
      r.Add(ReferenceKind::Exception, begin);
      if ((second & 3) == 0 && !ReadArm64UnwindData(r, second)) return false;
    }
  }
  return true;
}

// Base relocations: blocks of 16-bit entries below a page address. Each
// patched place is a reference, and so is the address it holds.
bool ReadRelocations(ReferenceReader& r, DataDirectory d) {
  if (!r.Readable(d.rva, d.size)) return r.Fail("base relocations");
  const uint64_t end = uint64_t{d.rva} + d.size;
  for (uint64_t block = d.rva; block + 8 <= end;) {
    const uint64_t page = *r.Value(block, 4), size = *r.Value(block + 4, 4);
    if (size < 8 || block + size > end) return r.Fail("base relocation block");
    for (uint64_t at = block + 8; at + 2 <= block + size; at += 2) {
      const uint64_t entry = *r.Value(at, 2), type = entry >> 12, slot = page + (entry & 0xFFF);
      if (!r.Step("base relocations")) return false;
      if (type == 0) continue;  // padding
      if (type != 3 && type != 10) {
        r.Add(ReferenceKind::RelocatedSlot, slot, 8);
        return r.Fail("base relocation of this type");
      }
      const uint32_t width = type == 3 ? 4 : 8;
      r.Add(ReferenceKind::RelocatedSlot, slot, width);
      // A place past the file's bytes holds zero until the program writes it.
      if (const auto value = r.Value(slot, width); value && *value != 0) {
        r.AddPointer(ReferenceKind::RelocatedTarget, *value);
      }
    }
    block += size;
  }
  return true;
}

void ReadDirectories(ReferenceReader& r, const PeImage& image) {
  for (std::size_t i = 0; i < image.directories.size(); ++i) {
    const DataDirectory d = image.directories[i];
    const auto index = static_cast<int>(i);
    if (d.rva == 0) continue;
    // The certificate table is the one directory that counts in the file.
    if (index == kDirectorySecurity) {
      r.AddFile(ReferenceKind::Certificates, d.rva, d.size);
    } else {
      r.AddDirectory(index, d);
    }
  }
}

void ReadSymbolTable(ReferenceReader& r, const PeImage& image, std::span<const uint8_t> held) {
  if (image.pointerToSymbolTable == 0) return;
  const uint64_t strings =
      image.pointerToSymbolTable + uint64_t{kSymbolSize} * image.numberOfSymbols;
  bytes::ByteReader in(held, 0);
  in.Seek(static_cast<std::size_t>(std::min<uint64_t>(strings, held.size())));
  const uint32_t length = in.Has(4) ? in.U32() : 4;
  r.AddFile(ReferenceKind::SymbolTable, image.pointerToSymbolTable,
            strings + std::max<uint32_t>(length, 4) - image.pointerToSymbolTable);
}

}  // namespace

ReferenceScan VisitReferences(const PeImage& image, std::span<const uint8_t> held,
                              const DebugDirectory& debug,
                              const std::function<void(const Reference&)>& visit) {
  ReferenceReader r(image, held, visit);
  ReadDirectories(r, image);
  if (image.entryPoint != 0) r.Add(ReferenceKind::EntryPoint, image.entryPoint);
  using Reader = bool (*)(ReferenceReader&, DataDirectory);
  const std::pair<int, Reader> readers[] = {
      {kDirectoryImport, ReadImports},       {kDirectoryExport, ReadExports},
      {kDirectoryDelayImport, ReadDelayImports}, {kDirectoryTls, ReadTls},
      {kDirectoryLoadConfig, ReadLoadConfig}, {kDirectoryException, ReadExceptions},
      {kDirectoryClr, ReadClrHeader},        {kDirectoryBaseReloc, ReadRelocations}};
  for (const auto& [index, read] : readers) {
    const DataDirectory d = image.Directory(index);
    if (d.rva != 0 && (d.size != 0 || index == kDirectoryImport)) read(r, d);
  }
  if (!debug.readable) r.Fail("debug directory");
  for (const DebugEntry& e : debug.entries) {
    if (e.addressOfRawData != 0) r.Add(ReferenceKind::DebugData, e.addressOfRawData, e.sizeOfData);
    if (e.pointerToRawData != 0)
      r.AddFile(ReferenceKind::DebugFile, e.pointerToRawData, e.sizeOfData);
  }
  ReadSymbolTable(r, image, held);
  return r.Scan();
}

namespace {

// References the rebuild rewrites itself: the entries of the directories it
// remaps and the certificate table it drops.
bool RewrittenOnMove(const Reference& ref) {
  return (ref.kind == ReferenceKind::Directory &&
          (ref.directory == kDirectoryBaseReloc || ref.directory == kDirectoryDebug)) ||
         ref.kind == ReferenceKind::Certificates;
}

// Marks every section whose range [first(s), first(s) + size(s)) meets
// [start, start + length); sections are sorted by first.
template <class First, class Size, class Mark>
void MarkOverlapping(const std::vector<std::size_t>& order, const PeImage& image, uint64_t start,
                     uint64_t length, First first, Size size, Mark mark) {
  const uint64_t end = start + std::max<uint64_t>(length, 1);
  auto it = std::upper_bound(order.begin(), order.end(), start, [&](uint64_t v, std::size_t i) {
    return v < first(image.sections[i]);
  });
  if (it != order.begin()) --it;
  for (; it != order.end() && first(image.sections[*it]) < end; ++it) {
    const SectionHeader& s = image.sections[*it];
    if (first(s) + size(s) > start && size(s) != 0) mark(*it);
  }
}

}  // namespace

ImageUse SummarizeReferences(const PeImage& image, std::span<const uint8_t> held,
                             const DebugDirectory& debug) {
  ImageUse use;
  use.sections.resize(image.sections.size());
  std::vector<std::size_t> byAddress(image.sections.size()), byOffset;
  for (std::size_t i = 0; i < byAddress.size(); ++i) byAddress[i] = i;
  byOffset = byAddress;
  std::sort(byOffset.begin(), byOffset.end(), [&](std::size_t a, std::size_t b) {
    return image.sections[a].rawPointer < image.sections[b].rawPointer;
  });
  const auto address = [](const SectionHeader& s) { return uint64_t{s.virtualAddress}; };
  // A section takes whole pages in memory: what lies behind its size in its
  // last page is still its own.
  const auto memory = [&](const SectionHeader& s) {
    return bytes::AlignUp(s.MemorySize(), image.sectionAlignment);
  };
  const auto offset = [](const SectionHeader& s) { return uint64_t{s.rawPointer}; };
  const auto extent = [&](const SectionHeader& s) {
    return s.rawSize == 0 ? 0 : std::max(uint64_t{s.rawSize}, image.FileBackedSize(s));
  };
  use.scan = VisitReferences(image, held, debug, [&](const Reference& ref) {
    if (ref.length == 0) return;
    if (ref.fileOffset) {
      if (ref.kind == ReferenceKind::Certificates) return;  // dropped by every rebuild
      MarkOverlapping(byOffset, image, ref.start, ref.length, offset, extent,
                      [&](std::size_t i) { use.sections[i].bytesPinned = true; });
      return;
    }
    const bool resourceEntry =
        ref.kind == ReferenceKind::Directory && ref.directory == kDirectoryResource;
    MarkOverlapping(byAddress, image, ref.start, ref.length, address, memory, [&](std::size_t i) {
      if (!RewrittenOnMove(ref) && !resourceEntry) use.sections[i].addressesPinned = true;
      if (!resourceEntry) use.sections[i].bytesPinned = true;
    });
  });
  return use;
}

}  // namespace pe

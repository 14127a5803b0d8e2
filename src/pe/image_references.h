#pragma once
// Every address and file offset an image's own structures hold, read in one
// place: the data directories; imports with their names and lookup and
// address tables; exports; delay imports; the TLS template and callbacks;
// the load configuration and the tables it names; exception entries and the
// unwind data they point at; the entry point; debug data by address and by
// file offset; the CLR header and what it names; every base relocation's
// slot and the address it holds; the COFF symbol table. A rebuild moves
// only what none of them points into; a check of an image reads the same.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "pe/debug_directory.h"
#include "pe/pe_image.h"

namespace pe {

enum class ReferenceKind : uint8_t {
  Directory,        // a data directory's range; `directory` tells which
  EntryPoint,
  Import,           // descriptors, names, lookup and address tables, hint/name entries
  Export,           // the tables, the names and every exported address
  DelayImport,
  Tls,              // template range, index, callback array and callbacks
  LoadConfig,       // the pointers it holds and the tables it names
  Exception,        // function ranges and their unwind data
  DebugData,        // a debug entry's data by address
  DebugFile,        // a debug entry's data by file offset
  Clr,              // the CLR header's ranges, native entry point, fix-up slots
  RelocatedSlot,    // a place a base relocation patches
  RelocatedTarget,  // the address such a place holds
  SymbolTable,      // the COFF symbol and string tables, by file offset
  Certificates,     // the certificate table, by file offset
};

struct Reference {
  ReferenceKind kind = ReferenceKind::Directory;
  int directory = -1;       // for Directory
  bool fileOffset = false;  // start counts in the file, not in the image's addresses
  uint64_t start = 0;
  uint64_t length = 1;
};

// Why the references could not all be read; empty when they could.
struct ReferenceScan {
  std::string unreadable;  // the structure that could not be read whole
  bool Complete() const { return unreadable.empty(); }
};

// Calls visit for every reference of the image whose first bytes are `held`
// (at least its headers and sections), its debug directory read already.
// Stops reading a structure that cannot be read whole, and says which.
ReferenceScan VisitReferences(const PeImage& image, std::span<const uint8_t> held,
                              const DebugDirectory& debug,
                              const std::function<void(const Reference&)>& visit);

// What the references say about each section, for planning a rebuild.
struct SectionUse {
  // Something the rebuild does not rewrite points into its addresses: it
  // must keep them.
  bool addressesPinned = false;
  // Something other than the resource directory entry points into its
  // addresses or its file data: its bytes must stay as they are.
  bool bytesPinned = false;
};

struct ImageUse {
  std::vector<SectionUse> sections;  // in section table order
  ReferenceScan scan;
};

// Sections must be in ascending address order (as a rebuild requires).
ImageUse SummarizeReferences(const PeImage& image, std::span<const uint8_t> held,
                             const DebugDirectory& debug);

}  // namespace pe

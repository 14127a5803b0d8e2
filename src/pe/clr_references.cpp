// The CLR header of a .NET image, the ranges it names, and the addresses its
// metadata tables hold: each method body's and each field's initial data.

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "pe/reference_reader.h"

namespace pe {
namespace {

constexpr uint32_t kMetadataSignature = 0x424A5342;
constexpr uint32_t kNativeEntryPoint = 0x10;
constexpr int kTableCount = 64;
constexpr int kMethodDef = 0x06;
constexpr int kFieldRva = 0x1D;

// Coded indexes: how many tag bits, and the tables they choose from.
struct CodedIndex {
  int tagBits;
  std::array<int, 24> tables;  // -1 ends the list
};
constexpr CodedIndex kCoded[] = {
    {2, {0x02, 0x01, 0x1B, -1}},                                      // a: TypeDefOrRef
    {2, {0x04, 0x08, 0x17, -1}},                                      // b: HasConstant
    {5, {0x06, 0x04, 0x01, 0x02, 0x08, 0x09, 0x0A, 0x00, 0x0E, 0x17, 0x14, 0x11, 0x1A, 0x1B,
         0x20, 0x23, 0x26, 0x27, 0x28, 0x2A, 0x2C, 0x2B, -1}},        // c: HasCustomAttribute
    {1, {0x04, 0x08, -1}},                                            // d: HasFieldMarshal
    {2, {0x02, 0x06, 0x20, -1}},                                      // e: HasDeclSecurity
    {3, {0x02, 0x01, 0x1A, 0x06, 0x1B, -1}},                          // f: MemberRefParent
    {1, {0x14, 0x17, -1}},                                            // g: HasSemantics
    {1, {0x06, 0x0A, -1}},                                            // h: MethodDefOrRef
    {1, {0x04, 0x06, -1}},                                            // i: MemberForwarded
    {2, {0x26, 0x23, 0x27, -1}},                                      // j: Implementation
    {3, {0x06, 0x0A, -1}},                                            // k: CustomAttributeType
    {2, {0x00, 0x1A, 0x23, 0x01, -1}},                                // l: ResolutionScope
};

// The columns of the tables up to FieldRVA: 2 and 4 are constants, S G B
// heap indexes, a letter a coded index, a digit pair after T an index into
// that table (in hexadecimal).
constexpr std::string_view kColumns[kFieldRva + 1] = {
    "2SGGG", "lSS", "4SSaT04T06", "T04", "2SB", "T06", "422SBT08", "T08",
    "22S", "T02a", "fSB", "2bB", "ckB", "dB", "2eB", "24T02",
    "4T04", "B", "T02T14", "T14", "2Sa", "T02T17", "T17", "2SB",
    "2T06g", "T02hh", "S", "B", "2iST1A", "4T04"};

struct Tables {
  std::array<uint32_t, kTableCount> rows{};
  uint8_t heapSizes = 0;

  uint32_t IndexSize(int table) const {
    return rows[static_cast<std::size_t>(table)] < 0x10000 ? 2 : 4;
  }
  uint32_t CodedSize(const CodedIndex& c) const {
    uint32_t most = 0;
    for (int t : c.tables) {
      if (t < 0) break;
      most = std::max(most, rows[static_cast<std::size_t>(t)]);
    }
    return most < (1u << (16 - c.tagBits)) ? 2 : 4;
  }
  uint32_t RowSize(int table) const {
    uint32_t size = 0;
    const std::string_view columns = kColumns[table];
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const char c = columns[i];
      if (c == '2' || c == '4') {
        size += static_cast<uint32_t>(c - '0');
      } else if (c == 'S' || c == 'G' || c == 'B') {
        const uint8_t bit = c == 'S' ? 1 : c == 'G' ? 2 : 4;
        size += (heapSizes & bit) != 0 ? 4 : 2;
      } else if (c == 'T') {
        size += IndexSize(std::stoi(std::string(columns.substr(i + 1, 2)), nullptr, 16));
        i += 2;
      } else {
        size += CodedSize(kCoded[c - 'a']);
      }
    }
    return size;
  }
};

// The "#~" stream's offset and size, found by the metadata root's stream headers.
std::optional<std::pair<uint64_t, uint64_t>> TablesStream(ReferenceReader& r, uint64_t meta,
                                                          uint64_t metaSize) {
  const auto signature = r.Value(meta, 4), versionLength = r.Value(meta + 12, 4);
  if (signature != kMetadataSignature || !versionLength || *versionLength > metaSize) return {};
  uint64_t at = meta + 16 + ((*versionLength + 3) & ~uint64_t{3});
  const auto streams = r.Value(at + 2, 2);
  if (!streams) return {};
  at += 4;
  for (uint64_t i = 0; i < *streams; ++i) {
    const auto offset = r.Value(at, 4), size = r.Value(at + 4, 4);
    const auto nameLength = r.TextLength(at + 8);
    if (!offset || !size || !nameLength || *nameLength > 32) return {};
    const bool tables = *nameLength == 3 && r.Value(at + 8, 2) == 0x7E23;  // "#~"
    if (tables) return std::pair{meta + *offset, *size};
    at += 8 + ((*nameLength + 3) & ~uint32_t{3});
  }
  return {};
}

// Reads the row counts; false when the stream is not the compressed kind.
bool ReadRowCounts(ReferenceReader& r, uint64_t& at, Tables& tables) {
  const auto heapSizes = r.Value(at + 6, 2), valid = r.Value(at + 8, 8);
  if (!heapSizes || !valid) return false;
  tables.heapSizes = static_cast<uint8_t>(*heapSizes);
  at += 24;
  for (int t = 0; t < kTableCount; ++t) {
    if (((*valid >> t) & 1) == 0) continue;
    const auto rows = r.Value(at, 4);
    if (!rows) return false;
    tables.rows[static_cast<std::size_t>(t)] = static_cast<uint32_t>(*rows);
    at += 4;
  }
  if ((tables.heapSizes & 0x40) != 0) at += 4;  // extra data
  // Tables past FieldRVA lie behind it: their sizes do not matter here.
  return true;
}

// Each row's first column holds an address: a method body, a field's data.
bool ReadAddressColumn(ReferenceReader& r, uint64_t start, uint32_t rows, uint32_t rowSize) {
  if (!r.Readable(start, uint64_t{rows} * rowSize)) return r.Fail("CLR metadata tables");
  for (uint32_t i = 0; i < rows; ++i) {
    if (!r.Step("CLR metadata tables")) return false;
    const uint64_t address = *r.Value(start + uint64_t{i} * rowSize, 4);
    if (address != 0) r.Add(ReferenceKind::Clr, address);
  }
  return true;
}

bool ReadMetadata(ReferenceReader& r, uint64_t meta, uint64_t metaSize) {
  const auto stream = TablesStream(r, meta, metaSize);
  if (!stream) return r.Fail("CLR metadata");
  uint64_t at = stream->first;
  Tables tables;
  if (!ReadRowCounts(r, at, tables)) return r.Fail("CLR metadata tables");
  for (int t = 0; t <= kFieldRva; ++t) {
    const uint32_t rowSize = tables.RowSize(t), rows = tables.rows[static_cast<std::size_t>(t)];
    if ((t == kMethodDef || t == kFieldRva) && !ReadAddressColumn(r, at, rows, rowSize)) {
      return false;
    }
    at += uint64_t{rows} * rowSize;
  }
  return true;
}

}  // namespace

bool ReadClrHeader(ReferenceReader& r, DataDirectory d) {
  std::array<uint64_t, 18> word{};
  for (uint32_t i = 0; i < word.size(); ++i) {
    const auto value = r.Value(d.rva + 4 * i, 4);
    if (!value) return r.Fail("CLR header");
    word[i] = *value;
  }
  r.Add(ReferenceKind::Clr, d.rva, 72);
  // Metadata, resources, strong name signature, code manager table, fix-ups,
  // export address jumps, native header: address and size at words 2, 6, 8 ...
  for (std::size_t at : {2, 6, 8, 10, 12, 14, 16}) {
    if (word[at] != 0) r.Add(ReferenceKind::Clr, word[at], std::max<uint64_t>(word[at + 1], 1));
  }
  if ((word[4] & kNativeEntryPoint) != 0 && word[5] != 0) r.Add(ReferenceKind::Clr, word[5]);
  // Each fix-up names a run of slots: address, count and type (bit 1: 64-bit slots).
  for (uint64_t at = word[12]; word[12] != 0 && at + 8 <= word[12] + word[13]; at += 8) {
    const auto slots = r.Value(at, 4), shape = r.Value(at + 4, 4);
    if (!slots || !shape) return r.Fail("CLR fix-ups");
    r.Add(ReferenceKind::Clr, *slots, (*shape & 0xFFFF) * ((*shape >> 16 & 2) != 0 ? 8 : 4));
  }
  return word[2] == 0 || ReadMetadata(r, word[2], word[3]);
}

}  // namespace pe

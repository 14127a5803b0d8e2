#include "pe/resource_layout.h"

#include <algorithm>
#include <cstring>

#include "bytes/byte_writer.h"
#include "bytes/align.h"

namespace pe {
namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint64_t kMaxSection = 0x7FFFFFFF;
constexpr uint64_t kTableHeaderSize = 16;
constexpr uint64_t kEntrySize = 8;
constexpr uint64_t kDataEntrySize = 16;

// An entry of a directory table: its name (null at the language level, where
// the leaf's language is the id) and the table or leaf it leads to.
struct Entry {
  const ResourceName* name = nullptr;
  std::size_t child = 0;
};

struct Table {
  std::vector<Entry> entries;
  bool leafLevel = false;
  uint32_t offset = 0;
  std::size_t named = 0;  // entries with a name string
};

// Tables in layout order: the root, the name tables, the language tables.
// leaves must be sorted by LeafLess.
std::vector<Table> BuildTables(const std::vector<ResourceLeaf>& leaves) {
  std::vector<Table> root(1), names, languages;
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const bool newType = i == 0 || !SameName(leaves[i - 1].type, leaves[i].type);
    if (newType) {
      root[0].entries.push_back({&leaves[i].type, names.size()});
      names.emplace_back();
    }
    if (newType || !SameName(leaves[i - 1].name, leaves[i].name)) {
      names.back().entries.push_back({&leaves[i].name, languages.size()});
      languages.emplace_back();
      languages.back().leafLevel = true;
    }
    languages.back().entries.push_back({nullptr, i});
  }
  // Children of the root index the name tables, and theirs the language tables.
  for (Entry& e : root[0].entries) e.child += 1;
  for (Table& t : names) {
    for (Entry& e : t.entries) e.child += 1 + names.size();
  }
  root.insert(root.end(), names.begin(), names.end());
  root.insert(root.end(), languages.begin(), languages.end());
  return root;
}

bool IsNamed(const Entry& e) { return e.name != nullptr && !e.name->name.empty(); }

// The room a leaf's data takes: a byte at least, so that an empty leaf's
// address still lies inside the section, where readers resolve it.
uint64_t DataRoom(std::size_t size) { return bytes::AlignUp(std::max<uint64_t>(size, 1), 8); }

struct Layout {
  uint64_t dataEntries = 0;
  uint64_t strings = 0;
  uint64_t data = 0;
  uint64_t total = 0;
};

// Offsets of the parts; a total beyond kMaxSection when the layout cannot be written.
Layout Measure(std::vector<Table>& tables, const std::vector<ResourceLeaf>& leaves) {
  Layout layout;
  uint64_t at = 0;
  for (Table& t : tables) {
    t.offset = static_cast<uint32_t>(at);
    at += kTableHeaderSize + kEntrySize * t.entries.size();
    // A table counts its named and its numbered entries in 16 bits each.
    t.named = static_cast<std::size_t>(std::ranges::count_if(t.entries, IsNamed));
    if (at > kMaxSection || t.named > 0xFFFF || t.entries.size() - t.named > 0xFFFF) {
      return {0, 0, 0, kMaxSection + 1};
    }
  }
  layout.dataEntries = at;
  at += kDataEntrySize * leaves.size();
  layout.strings = at;
  for (const Table& t : tables) {
    for (const Entry& e : t.entries) {
      if (IsNamed(e)) at += 2 + 2 * uint64_t{e.name->name.size()};
    }
  }
  layout.data = bytes::AlignUp(at, 8);
  at = layout.data;
  for (const ResourceLeaf& leaf : leaves) at += DataRoom(leaf.data.size());
  layout.total = at;
  return layout;
}

// Writes the tables and the name strings they refer to; false when any
// write would pass the measured size.
bool WriteTables(const std::vector<Table>& tables, const Layout& layout,
                 const std::vector<ResourceLeaf>& leaves, std::vector<uint8_t>& out) {
  bytes::SpanWriter table{std::span<uint8_t>(out)};
  bytes::SpanWriter strings{std::span<uint8_t>(out)};
  if (!strings.Seek(static_cast<std::size_t>(layout.strings))) return false;
  for (const Table& t : tables) {
    // Characteristics, time stamp, version; then the two counts.
    if (!table.Seek(t.offset) || !table.Zeros(4 + 4 + 2 + 2) ||
        !table.U16(static_cast<uint16_t>(t.named)) ||
        !table.U16(static_cast<uint16_t>(t.entries.size() - t.named))) {
      return false;
    }
    for (const Entry& e : t.entries) {
      uint32_t nameField = t.leafLevel ? leaves[e.child].language : e.name->id;
      if (IsNamed(e)) {
        nameField = static_cast<uint32_t>(strings.Offset()) | kHighBit;
        const std::u16string& text = e.name->name;
        if (!strings.U16(static_cast<uint16_t>(text.size()))) return false;
        for (char16_t unit : text) {
          if (!strings.U16(static_cast<uint16_t>(unit))) return false;
        }
      }
      const uint32_t target = t.leafLevel
          ? static_cast<uint32_t>(layout.dataEntries + kDataEntrySize * e.child)
          : tables[e.child].offset | kHighBit;
      if (!table.U32(nameField) || !table.U32(target)) return false;
    }
  }
  return true;
}

bool WriteData(const Layout& layout, const std::vector<ResourceLeaf>& leaves, uint32_t baseRva,
               std::vector<uint8_t>& out) {
  bytes::SpanWriter entries{std::span<uint8_t>(out)};
  bytes::SpanWriter data{std::span<uint8_t>(out)};
  if (!entries.Seek(static_cast<std::size_t>(layout.dataEntries)) ||
      !data.Seek(static_cast<std::size_t>(layout.data))) {
    return false;
  }
  for (const ResourceLeaf& leaf : leaves) {
    const std::size_t start = data.Offset();
    // Address, size, code page, a reserved field; then the data itself.
    if (!entries.Fields(static_cast<uint32_t>(baseRva + start),
                        static_cast<uint32_t>(leaf.data.size()), leaf.codePage, uint32_t{0}) ||
        !data.Bytes(leaf.data) ||
        !data.Seek(static_cast<std::size_t>(start + DataRoom(leaf.data.size())))) {
      return false;
    }
  }
  return true;
}

}  // namespace

uint64_t ResourceSectionSize(std::vector<ResourceLeaf> leaves) {
  std::stable_sort(leaves.begin(), leaves.end(), LeafLess);
  std::vector<Table> tables = BuildTables(leaves);
  return Measure(tables, leaves).total;
}

std::optional<std::vector<uint8_t>> LayoutResources(std::vector<ResourceLeaf> leaves,
                                                    uint32_t baseRva) {
  std::stable_sort(leaves.begin(), leaves.end(), LeafLess);
  std::vector<Table> tables = BuildTables(leaves);
  const Layout layout = Measure(tables, leaves);
  if (layout.total > kMaxSection || baseRva + layout.total > 0xFFFFFFFFull) return std::nullopt;
  std::vector<uint8_t> out(static_cast<std::size_t>(layout.total), 0);
  if (!WriteTables(tables, layout, leaves, out) || !WriteData(layout, leaves, baseRva, out)) {
    return std::nullopt;
  }
  return out;
}

}  // namespace pe

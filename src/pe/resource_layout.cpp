#include "pe/resource_layout.h"

#include <algorithm>
#include <cstring>

#include "pe/byte_io.h"

namespace pe {
namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint64_t kMaxSection = 0x7FFFFFFF;

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

struct Layout {
  uint64_t dataEntries = 0;
  uint64_t strings = 0;
  uint64_t data = 0;
  uint64_t total = 0;
};

// A table counts its named and its numbered entries in 16 bits each.
bool CountsFit(const Table& t) {
  const auto named =
      static_cast<std::size_t>(std::count_if(t.entries.begin(), t.entries.end(), IsNamed));
  return named <= 0xFFFF && t.entries.size() - named <= 0xFFFF;
}

// Offsets of the parts; a total beyond kMaxSection when the layout cannot be written.
Layout Measure(std::vector<Table>& tables, const std::vector<ResourceLeaf>& leaves) {
  Layout layout;
  uint64_t at = 0;
  for (Table& t : tables) {
    t.offset = static_cast<uint32_t>(at);
    at += 16 + 8 * uint64_t{t.entries.size()};
    if (at > kMaxSection || !CountsFit(t)) return {0, 0, 0, kMaxSection + 1};
  }
  layout.dataEntries = at;
  at += 16 * uint64_t{leaves.size()};
  layout.strings = at;
  for (const Table& t : tables) {
    for (const Entry& e : t.entries) {
      if (IsNamed(e)) at += 2 + 2 * uint64_t{e.name->name.size()};
    }
  }
  layout.data = AlignUp(at, 8);
  at = layout.data;
  for (const ResourceLeaf& leaf : leaves) at = AlignUp(at + leaf.data.size(), 8);
  layout.total = at;
  return layout;
}

// Writes the tables and the name strings they refer to.
void WriteTables(const std::vector<Table>& tables, const Layout& layout,
                 const std::vector<ResourceLeaf>& leaves, std::vector<uint8_t>& out) {
  auto stringAt = static_cast<uint32_t>(layout.strings);
  for (const Table& t : tables) {
    const auto named =
        static_cast<uint16_t>(std::count_if(t.entries.begin(), t.entries.end(), IsNamed));
    PutU16(out, t.offset + 12, named);
    PutU16(out, t.offset + 14, static_cast<uint16_t>(t.entries.size() - named));
    uint32_t entry = t.offset + 16;
    for (const Entry& e : t.entries) {
      uint32_t nameField = t.leafLevel ? leaves[e.child].language : e.name->id;
      if (IsNamed(e)) {
        nameField = stringAt | kHighBit;
        const std::u16string& text = e.name->name;
        PutU16(out, stringAt, static_cast<uint16_t>(text.size()));
        for (std::size_t i = 0; i < text.size(); ++i) {
          PutU16(out, stringAt + 2 + 2 * i, static_cast<uint16_t>(text[i]));
        }
        stringAt += 2 + 2 * static_cast<uint32_t>(text.size());
      }
      const uint32_t target = t.leafLevel
          ? static_cast<uint32_t>(layout.dataEntries + 16 * e.child)
          : tables[e.child].offset | kHighBit;
      PutU32(out, entry, nameField);
      PutU32(out, entry + 4, target);
      entry += 8;
    }
  }
}

void WriteData(const Layout& layout, const std::vector<ResourceLeaf>& leaves, uint32_t baseRva,
               std::vector<uint8_t>& out) {
  uint64_t at = layout.data;
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const ResourceLeaf& leaf = leaves[i];
    const auto entry = static_cast<std::size_t>(layout.dataEntries + 16 * i);
    PutU32(out, entry, static_cast<uint32_t>(baseRva + at));
    PutU32(out, entry + 4, static_cast<uint32_t>(leaf.data.size()));
    PutU32(out, entry + 8, leaf.codePage);
    if (!leaf.data.empty()) std::memcpy(out.data() + at, leaf.data.data(), leaf.data.size());
    at = AlignUp(at + leaf.data.size(), 8);
  }
}

}  // namespace

std::optional<std::vector<uint8_t>> LayoutResources(std::vector<ResourceLeaf> leaves,
                                                    uint32_t baseRva) {
  std::stable_sort(leaves.begin(), leaves.end(), LeafLess);
  std::vector<Table> tables = BuildTables(leaves);
  const Layout layout = Measure(tables, leaves);
  if (layout.total > kMaxSection || baseRva + layout.total > 0xFFFFFFFFull) return std::nullopt;
  std::vector<uint8_t> out(static_cast<std::size_t>(layout.total), 0);
  WriteTables(tables, layout, leaves, out);
  WriteData(layout, leaves, baseRva, out);
  return out;
}

}  // namespace pe

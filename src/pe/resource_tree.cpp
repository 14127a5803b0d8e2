#include "pe/resource_tree.h"

#include <algorithm>
#include <set>

#include "bytes/byte_reader.h"
#include "pe/pe_errors.h"

namespace pe {
namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kTableHeaderSize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint64_t kNameCopiesPerFileByte = 4;

// Walks the three levels of the directory inside its section's bytes.
class TreeReader {
 public:
  TreeReader(const PeImage& image, std::span<const uint8_t> file,
             std::span<const uint8_t> directory)
      : image_(image), file_(file), directory_(directory) {}

  // Reads the table at offset, of the given level (0 types, 1 names, 2
  // languages), and every table and leaf below it.
  bool ReadTable(uint32_t offset, int level, std::vector<ResourceLeaf>& leaves) {
    if (!visited_.insert(offset).second) return false;  // a loop or a shared table
    bytes::ByteReader in(directory_, offset);
    in.Skip(4 + 4 + 2 + 2);  // characteristics, time stamp, version
    const uint32_t count = uint32_t{in.U16()} + in.U16();  // named, then numbered entries
    if (!in.Has(uint64_t{count} * kEntrySize)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t nameField = in.U32();
      const uint32_t target = in.U32();
      if (!ReadEntry(nameField, target, level, leaves)) return false;
    }
    return true;
  }

 private:
  bool ReadEntry(uint32_t nameField, uint32_t target, int level,
                 std::vector<ResourceLeaf>& leaves) {
    ResourceName name;
    if (!ReadName(nameField, name)) return false;
    const bool isTable = (target & kHighBit) != 0;
    if (level < 2) {
      if (!isTable) return false;
      (level == 0 ? current_.type : current_.name) = std::move(name);
      return ReadTable(target & ~kHighBit, level + 1, leaves);
    }
    if (isTable || !name.name.empty()) return false;
    current_.language = name.id;
    return ReadLeaf(target, leaves);
  }

  bool ReadName(uint32_t field, ResourceName& name) {
    if ((field & kHighBit) == 0) {
      if (field > 0xFFFF) return false;
      name = ResourceName::Id(static_cast<uint16_t>(field));
      return true;
    }
    bytes::ByteReader in(directory_, field & ~kHighBit);
    const uint16_t length = in.U16();
    if (length == 0 || !in.Has(length * std::size_t{2})) return false;
    std::u16string text(length, u'\0');
    for (char16_t& unit : text) unit = static_cast<char16_t>(in.U16());
    name = ResourceName::Named(std::move(text));
    return true;
  }

  bool ReadLeaf(uint32_t at, std::vector<ResourceLeaf>& leaves) {
    bytes::ByteReader in(directory_, at);
    if (!in.Has(kDataEntrySize) || !dataEntries_.insert(at).second) return false;
    const uint32_t rva = in.U32();
    const uint32_t size = in.U32();
    current_.codePage = in.U32();
    const auto offset = image_.RvaToOffset(rva, size, file_.size());
    if (!offset) return false;
    // Leaves that do not share bytes cannot add up to more than the file;
    // refusing more keeps a crafted directory from multiplying the output.
    total_ += size;
    if (total_ > file_.size()) return false;
    // Every leaf keeps its own copy of its type's and its name's strings, but
    // many entries may point at one long string: bound the copies by the
    // file's size too (real files stay far below it).
    names_ += 2 * (current_.type.name.size() + current_.name.name.size());
    if (names_ > kNameCopiesPerFileByte * file_.size()) return false;
    current_.data = file_.subspan(*offset, size);
    leaves.push_back(current_);
    return true;
  }

  const PeImage& image_;
  std::span<const uint8_t> file_;
  std::span<const uint8_t> directory_;
  std::set<uint32_t> visited_;
  std::set<uint32_t> dataEntries_;
  uint64_t total_ = 0;
  uint64_t names_ = 0;
  ResourceLeaf current_;
};

}  // namespace

bool SameName(const ResourceName& a, const ResourceName& b) {
  return a.name.empty() == b.name.empty() && (a.name.empty() ? a.id == b.id : a.name == b.name);
}

bool NameLess(const ResourceName& a, const ResourceName& b) {
  if (a.name.empty() != b.name.empty()) return !a.name.empty();
  return a.name.empty() ? a.id < b.id : a.name < b.name;
}

bool LeafLess(const ResourceLeaf& a, const ResourceLeaf& b) {
  if (!SameName(a.type, b.type)) return NameLess(a.type, b.type);
  if (!SameName(a.name, b.name)) return NameLess(a.name, b.name);
  return a.language < b.language;
}

bool HasResourceDirectory(const PeImage& image) {
  const DataDirectory dir = image.Directory(kDirectoryResource);
  return dir.rva != 0 && dir.size != 0;
}

std::optional<std::vector<ResourceLeaf>> ReadResources(const PeImage& image,
                                                       std::span<const uint8_t> file,
                                                       uint32_t* error) {
  std::vector<ResourceLeaf> leaves;
  if (!HasResourceDirectory(image)) return leaves;
  // Offsets inside the directory count from its start and stay inside its
  // section's file-backed bytes.
  const uint32_t rva = image.Directory(kDirectoryResource).rva;
  const int index = image.SectionOfRva(rva);
  const auto start = image.RvaToOffset(rva, kTableHeaderSize, file.size());
  if (index < 0 || !start) return Fail(error, platform::kErrorInvalidData);
  const SectionHeader& section = image.sections[static_cast<std::size_t>(index)];
  const uint64_t sectionEnd =
      std::min<uint64_t>(section.rawPointer + image.FileBackedSize(section), file.size());
  const std::span<const uint8_t> directory =
      file.subspan(*start, static_cast<std::size_t>(sectionEnd - *start));
  if (!TreeReader(image, file, directory).ReadTable(0, 0, leaves)) {
    return Fail(error, platform::kErrorInvalidData);
  }
  return leaves;
}

}  // namespace pe

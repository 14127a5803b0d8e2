#include "verinfo/version_block.h"

#include <algorithm>

#include "bytes/align.h"
#include "bytes/byte_reader.h"
#include "bytes/byte_writer.h"
#include "platform/ascii.h"

namespace {

constexpr std::size_t kNodeHeader = 6;  // wLength, wValueLength, wType
constexpr std::size_t kMaxLength = 0xFFFF;
constexpr uint16_t kBinary = 0;
constexpr uint16_t kText = 1;
constexpr std::u16string_view kStringFileInfo = u"StringFileInfo";

// ---- reading ----

struct Node {
  std::size_t start = 0;
  std::size_t end = 0;  // start + wLength
  std::u16string key;
  std::size_t valueStart = 0;
  std::size_t valueBytes = 0;
  uint16_t valueLength = 0;
  uint16_t type = 0;
  std::size_t childrenStart = 0;
  bool valueFits = true;  // false when wValueLength overstates what the node holds
};

// Reads the node at start, which must end within limit (its parent's end).
std::optional<Node> ReadNode(std::span<const uint8_t> block, std::size_t start,
                             std::size_t limit) {
  bytes::ByteReader in(block, start);
  Node node;
  const uint16_t length = in.U16();
  node.valueLength = in.U16();
  node.type = in.U16();
  if (!in.Ok() || length < kNodeHeader + 2 || start + length > limit) return std::nullopt;
  node.start = start;
  node.end = start + length;
  for (;;) {
    if (in.Offset() + 2 > node.end) return std::nullopt;
    const auto unit = static_cast<char16_t>(in.U16());
    if (unit == 0) break;
    node.key.push_back(unit);
  }
  node.valueStart = std::min<std::size_t>(bytes::AlignUp(in.Offset(), 4), node.end);
  // Text values count characters, binary ones bytes. A value that overstates
  // its length spoils only itself: its siblings are still reached by wLength.
  node.valueBytes = node.type == kText ? std::size_t{node.valueLength} * 2 : node.valueLength;
  if (node.valueStart + node.valueBytes > node.end) {
    node.valueFits = false;
    node.valueBytes = node.end - node.valueStart;
  }
  node.childrenStart = std::min<std::size_t>(
      bytes::AlignUp(node.valueStart + node.valueBytes, 4), node.end);
  return node;
}

bool KeyIs(const Node& node, std::u16string_view key) {
  return platform::EqualsNoCaseAscii<char16_t>(node.key, key);
}

// First child of parent whose key matches, walking the children by their lengths.
std::optional<Node> FindChild(std::span<const uint8_t> block, const Node& parent,
                              std::u16string_view key) {
  std::size_t at = parent.childrenStart;
  while (at + kNodeHeader <= parent.end) {
    auto child = ReadNode(block, at, parent.end);
    if (!child) return std::nullopt;
    if (KeyIs(*child, key)) return child;
    at = bytes::AlignUp(child->end, 4);
  }
  return std::nullopt;
}

// A text value is handed out only when a NUL ends it inside its node, so a
// caller reading up to the NUL stays in the block; its length never counts
// more characters than the node has room for.
bool TextValue(std::span<const uint8_t> block, const Node& node, const void** value,
               uint32_t* length) {
  static const char16_t kEmpty[] = u"";
  if (node.valueLength == 0) {
    *value = kEmpty;
    *length = 0;
    return true;
  }
  bytes::ByteReader in(block.first(node.end), node.valueStart);
  while (in.Has(2)) {
    if (in.U16() == 0) {
      *value = block.data() + node.valueStart;
      *length = std::min<uint32_t>(node.valueLength,
                                   static_cast<uint32_t>((node.end - node.valueStart) / 2));
      return true;
    }
  }
  return false;
}

// ---- writing ----

// Opens a node whose wLength Close fills in; the key is followed by padding.
std::size_t OpenNode(bytes::ByteWriter& out, uint16_t valueLength, uint16_t type,
                     std::u16string_view key) {
  const std::size_t start = out.Offset();
  out.U16(0);
  out.U16(valueLength);
  out.U16(type);
  for (char16_t unit : key) out.U16(unit);
  out.U16(0);
  out.Align(4);
  return start;
}

// Sets the wLength of the node at start to its size so far; false when too large.
bool CloseNode(bytes::ByteWriter& out, std::size_t start) {
  const std::size_t end = out.Offset();
  if (end - start > kMaxLength) return false;
  out.Seek(start);
  out.U16(static_cast<uint16_t>(end - start));
  out.Seek(end);
  return true;
}

// One String; its trailing padding belongs to the enclosing table.
bool WriteString(bytes::ByteWriter& out, const std::u16string& key, const std::u16string& value) {
  // An empty value is written without even a NUL, with a value length of 0.
  if (value.size() >= kMaxLength) return false;
  const auto valueLength = static_cast<uint16_t>(value.empty() ? 0 : value.size() + 1);
  const std::size_t start = OpenNode(out, valueLength, kText, key);
  if (!value.empty()) {
    for (char16_t unit : value) out.U16(unit);
    out.U16(0);
  }
  if (!CloseNode(out, start)) return false;
  out.Align(4);
  return true;
}

void WriteVarFileInfo(bytes::ByteWriter& out) {
  const std::size_t varFileInfo = OpenNode(out, 0, kText, u"VarFileInfo");
  const std::size_t translation = OpenNode(out, 4, kBinary, u"Translation");
  out.U16(0x0409);  // U.S. English
  out.U16(0x04B0);  // code page 1200, UTF-16
  CloseNode(out, translation);
  CloseNode(out, varFileInfo);
}

}  // namespace

bool VerQueryValue(std::span<const uint8_t> block, std::u16string_view subBlock,
                   const void** value, uint32_t* length) {
  if (value == nullptr || length == nullptr) return false;
  auto node = ReadNode(block, 0, block.size());
  if (!node || !node->valueFits) return false;
  bool descended = false;
  bool underStrings = false;  // values below StringFileInfo are texts whatever their wType
  while (!subBlock.empty()) {
    const std::size_t separator = subBlock.find(u'\\');
    const std::u16string_view key = subBlock.substr(0, separator);
    subBlock = separator == std::u16string_view::npos ? std::u16string_view{}
                                                      : subBlock.substr(separator + 1);
    if (key.empty()) continue;
    node = FindChild(block, *node, key);
    if (!node || !node->valueFits) return false;
    underStrings = underStrings || (!descended && KeyIs(*node, kStringFileInfo));
    descended = true;
  }
  if (!descended) {
    // The root's value is the fixed record; callers copy all of it.
    if (node->valueBytes < kFixedRecordSize) return false;
    *value = block.data() + node->valueStart;
    *length = static_cast<uint32_t>(node->valueBytes);
    return true;
  }
  if (node->type == kText || underStrings) return TextValue(block, *node, value, length);
  *value = node->valueBytes != 0 ? block.data() + node->valueStart : nullptr;
  *length = static_cast<uint32_t>(node->valueBytes);
  return node->valueBytes != 0;
}

std::vector<std::u16string> StringTableNames(std::span<const uint8_t> block) {
  std::vector<std::u16string> names;
  const auto root = ReadNode(block, 0, block.size());
  const auto strings = root ? FindChild(block, *root, kStringFileInfo) : std::nullopt;
  if (!strings) return names;
  for (std::size_t at = strings->childrenStart; at + kNodeHeader <= strings->end;) {
    const auto table = ReadNode(block, at, strings->end);
    if (!table) break;
    names.push_back(table->key);
    at = bytes::AlignUp(table->end, 4);
  }
  return names;
}

std::optional<std::vector<uint8_t>> BuildVersionInfoBlock(
    std::span<const uint8_t, kFixedRecordSize> fixedRecord, const VersionStringMap& map) {
  std::vector<uint8_t> block;
  bytes::ByteWriter out(block);
  const std::size_t root = OpenNode(out, kFixedRecordSize, kBinary, u"VS_VERSION_INFO");
  out.Bytes(fixedRecord);
  const std::size_t stringFileInfo = OpenNode(out, 0, kText, kStringFileInfo);
  const std::size_t table = OpenNode(out, 0, kText, u"040904b0");
  for (const auto& [key, value] : map) {
    // Every enclosing length covers the String, so stop at the first that overflows.
    if (!WriteString(out, key, value) || out.Offset() > kMaxLength) return std::nullopt;
  }
  if (!CloseNode(out, table) || !CloseNode(out, stringFileInfo)) return std::nullopt;
  WriteVarFileInfo(out);
  if (!CloseNode(out, root)) return std::nullopt;
  return block;
}

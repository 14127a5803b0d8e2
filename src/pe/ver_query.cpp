#include <algorithm>

#include "pe/byte_io.h"
#include "pe/version_info.h"

namespace pe {
namespace {

constexpr std::size_t kNodeHeader = 6;  // wLength, wValueLength, wType

// One node of a VS_VERSION_INFO block: header, NUL-terminated key, value,
// then child nodes, each start aligned to 4 bytes from the block's start.
struct Node {
  std::size_t start = 0;
  std::size_t end = 0;  // start + wLength
  std::size_t keyStart = 0;
  std::size_t keyLength = 0;  // characters, NUL excluded
  std::size_t valueStart = 0;
  std::size_t valueBytes = 0;
  uint16_t valueLength = 0;
  uint16_t type = 0;
  std::size_t childrenStart = 0;
  bool valueFits = true;  // false when wValueLength overstates what the node holds
};

// Reads the node at `start`, which must end within `limit` (its parent's end).
std::optional<Node> ReadNode(std::span<const uint8_t> block, std::size_t start,
                             std::size_t limit) {
  const auto length = ReadU16(block, start);
  const auto valueLength = ReadU16(block, start + 2);
  const auto type = ReadU16(block, start + 4);
  if (!length || !valueLength || !type || *length < kNodeHeader + 2 || start + *length > limit) {
    return std::nullopt;
  }
  Node node{start, start + *length, start + kNodeHeader, 0, 0, 0, *valueLength, *type, 0};
  std::size_t at = node.keyStart;
  for (;;) {
    const auto unit = ReadU16(block, at);
    if (!unit || at + 2 > node.end) return std::nullopt;
    at += 2;
    if (*unit == 0) break;
  }
  node.keyLength = (at - node.keyStart) / 2 - 1;
  node.valueStart = std::min<std::size_t>(AlignUp(at, 4), node.end);
  // Text values count characters, binary ones bytes. A value that overstates
  // its length spoils only itself: its siblings are still reached by wLength.
  node.valueBytes = node.type == 1 ? std::size_t{node.valueLength} * 2 : node.valueLength;
  if (node.valueStart + node.valueBytes > node.end) {
    node.valueFits = false;
    node.valueBytes = node.end - node.valueStart;
  }
  node.childrenStart =
      std::min<std::size_t>(AlignUp(node.valueStart + node.valueBytes, 4), node.end);
  return node;
}

char16_t Fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool KeyEquals(std::span<const uint8_t> block, const Node& node, std::u16string_view key) {
  if (node.keyLength != key.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const auto unit = static_cast<char16_t>(*ReadU16(block, node.keyStart + 2 * i));
    if (Fold(unit) != Fold(key[i])) return false;
  }
  return true;
}

// First child of parent whose key matches, walking the children by their lengths.
std::optional<Node> FindChild(std::span<const uint8_t> block, const Node& parent,
                              std::u16string_view key) {
  std::size_t at = parent.childrenStart;
  while (at + kNodeHeader <= parent.end) {
    const auto child = ReadNode(block, at, parent.end);
    if (!child) return std::nullopt;
    if (KeyEquals(block, *child, key)) return child;
    at = AlignUp(child->end, 4);
  }
  return std::nullopt;
}

// A text value is handed out only when a NUL ends it inside its node, so a
// caller reading up to the NUL stays in the block.
bool TextValue(std::span<const uint8_t> block, const Node& node, const void** value,
               uint32_t* length) {
  static const char16_t kEmpty[] = u"";
  if (node.valueLength == 0) {
    *value = kEmpty;
    *length = 0;
    return true;
  }
  for (std::size_t at = node.valueStart; at + 2 <= node.end; at += 2) {
    if (*ReadU16(block, at) == 0) {
      *value = block.data() + node.valueStart;
      *length = node.valueLength;
      return true;
    }
  }
  return false;
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
    underStrings = underStrings || (!descended && KeyEquals(block, *node, u"StringFileInfo"));
    descended = true;
  }
  if (!descended) {
    // The root's value is the fixed record; callers copy all 52 bytes of it.
    if (node->valueBytes < 52) return false;
    *value = block.data() + node->valueStart;
    *length = static_cast<uint32_t>(node->valueBytes);
    return true;
  }
  if (node->type == 1 || underStrings) return TextValue(block, *node, value, length);
  *value = node->valueBytes != 0 ? block.data() + node->valueStart : nullptr;
  *length = static_cast<uint32_t>(node->valueBytes);
  return node->valueBytes != 0;
}

}  // namespace pe

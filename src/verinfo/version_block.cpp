#include "verinfo/version_block.h"

#include <string>
#include <string_view>
#include <utility>

namespace {

constexpr std::size_t kMaxLength = 0xFFFF;
constexpr uint16_t kBinary = 0;
constexpr uint16_t kText = 1;

// Appends little-endian fields and zero padding to a growing block.
class BlockWriter {
 public:
  std::size_t Size() const { return bytes_.size(); }

  void U16(uint16_t value) {
    bytes_.push_back(static_cast<uint8_t>(value));
    bytes_.push_back(static_cast<uint8_t>(value >> 8));
  }
  // UTF-16LE text with its terminating NUL.
  void Text(std::u16string_view text) {
    for (char16_t c : text) U16(c);
    U16(0);
  }
  void Bytes(const uint8_t* data, std::size_t size) { bytes_.insert(bytes_.end(), data, data + size); }
  void PadTo4() { bytes_.resize((bytes_.size() + 3) & ~std::size_t{3}, 0); }

  // Starts a block header whose wLength is filled in by Close.
  std::size_t Open(uint16_t valueLength, uint16_t type, std::u16string_view key) {
    std::size_t start = Size();
    U16(0);
    U16(valueLength);
    U16(type);
    Text(key);
    PadTo4();
    return start;
  }
  // Sets the wLength of the block at start to its size so far; false when too large.
  bool Close(std::size_t start) {
    std::size_t length = Size() - start;
    if (length > kMaxLength) return false;
    bytes_[start] = static_cast<uint8_t>(length);
    bytes_[start + 1] = static_cast<uint8_t>(length >> 8);
    return true;
  }

  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

// One String; its trailing padding belongs to the enclosing table.
bool WriteString(BlockWriter& out, const std::u16string& key, const std::u16string& value) {
  // An empty value is written without even a NUL, with a value length of 0.
  if (value.size() >= kMaxLength) return false;
  uint16_t valueLength = value.empty() ? 0 : static_cast<uint16_t>(value.size() + 1);
  std::size_t start = out.Open(valueLength, kText, key);
  if (!value.empty()) out.Text(value);
  if (!out.Close(start)) return false;
  out.PadTo4();
  return true;
}

void WriteVarFileInfo(BlockWriter& out) {
  std::size_t varFileInfo = out.Open(0, kText, u"VarFileInfo");
  std::size_t translation = out.Open(4, kBinary, u"Translation");
  out.U16(0x0409);  // U.S. English
  out.U16(0x04B0);  // code page 1200, UTF-16
  out.Close(translation);
  out.Close(varFileInfo);
}

}  // namespace

std::optional<std::vector<uint8_t>> BuildVersionInfoBlock(
    const uint8_t fixedRecord[kFixedRecordSize], const VersionStringMap& map) {
  BlockWriter out;
  std::size_t root = out.Open(kFixedRecordSize, kBinary, u"VS_VERSION_INFO");
  out.Bytes(fixedRecord, kFixedRecordSize);
  std::size_t stringFileInfo = out.Open(0, kText, u"StringFileInfo");
  std::size_t table = out.Open(0, kText, u"040904b0");
  for (const auto& [key, value] : map) {
    // Every enclosing length covers the String, so stop at the first that overflows.
    if (!WriteString(out, key, value) || out.Size() > kMaxLength) return std::nullopt;
  }
  if (!out.Close(table) || !out.Close(stringFileInfo)) return std::nullopt;
  WriteVarFileInfo(out);
  if (!out.Close(root)) return std::nullopt;
  return out.Take();
}

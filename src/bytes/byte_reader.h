#pragma once
// Little-endian records read field by field, in record order, from a byte
// span. Every read checks its bounds; a read that would pass the end fails
// the reader: it yields zero, as does every later read, and Ok() turns false.
// A record is read whole and then checked once.

#include <cstddef>
#include <cstdint>
#include <span>

namespace bytes {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> data, std::size_t offset = 0) : data_(data) {
    Seek(offset);
  }

  uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
  uint64_t U64() { return Take(8); }
  // Record fields by their type, so that one field list serves reading and
  // writing (see ByteWriter::Field).
  void Field(uint16_t& value) { value = U16(); }
  void Field(uint32_t& value) { value = U32(); }
  void Field(uint64_t& value) { value = U64(); }
  template <std::size_t kSize>
  void Field(char (&text)[kSize]) {
    const auto field = Bytes(kSize);
    for (std::size_t i = 0; i < kSize; ++i) text[i] = field.empty() ? 0 : static_cast<char>(field[i]);
  }

  // A whole record's fields, in order; whether the reader is still sound.
  template <class... Ts>
  bool Fields(Ts&... fields) {
    (Field(fields), ...);
    return Ok();
  }

  // The next count bytes; empty (and the reader failed) when fewer remain.
  std::span<const uint8_t> Bytes(std::size_t count) {
    if (!Has(count)) return Fail();
    const auto out = data_.subspan(offset_, count);
    offset_ += count;
    return out;
  }
  void Skip(std::size_t count) { Bytes(count); }
  // Moves to an absolute offset; an offset past the end fails the reader.
  void Seek(std::size_t offset) {
    if (offset > data_.size()) {
      Fail();
    } else if (ok_) {
      offset_ = offset;
    }
  }

  bool Ok() const { return ok_; }
  std::size_t Offset() const { return offset_; }
  bool Has(std::size_t count) const { return ok_ && count <= data_.size() - offset_; }

 private:
  uint64_t Take(std::size_t size) {
    const auto field = Bytes(size);
    uint64_t value = 0;
    for (std::size_t i = field.size(); i-- > 0;) value = (value << 8) | field[i];
    return value;
  }
  std::span<const uint8_t> Fail() {
    ok_ = false;
    offset_ = data_.size();
    return {};
  }

  std::span<const uint8_t> data_;
  std::size_t offset_ = 0;
  bool ok_ = true;
};

}  // namespace bytes

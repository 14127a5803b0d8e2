#pragma once
// Little-endian records written field by field, in record order.
//
// ByteWriter appends to a growing vector and cannot fail. SpanWriter writes
// into a buffer of fixed size (an image, a header): a write that would pass
// its end writes nothing and fails the writer, every later write fails too,
// and every write returns whether it happened, a result the compiler does not
// let a caller drop. Seek goes back to fill in a field whose value is known
// only later (a length).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace bytes {

namespace detail {
inline void PutLittleEndian(uint8_t* at, uint64_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
}  // namespace detail

class ByteWriter {
 public:
  // Appends at the vector's end, growing it as needed.
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out), offset_(out.size()) {}

  void U16(uint16_t value) { Put(value, 2); }
  void U32(uint32_t value) { Put(value, 4); }
  void U64(uint64_t value) { Put(value, 8); }
  // Record fields by their type (see ByteReader::Field).
  void Field(const uint16_t& value) { U16(value); }
  void Field(const uint32_t& value) { U32(value); }
  void Field(const uint64_t& value) { U64(value); }
  template <std::size_t kSize>
  void Field(const char (&text)[kSize]) {
    Bytes(std::span(reinterpret_cast<const uint8_t*>(text), kSize));
  }
  void Bytes(std::span<const uint8_t> data) {
    if (!data.empty()) std::memcpy(Room(data.size()), data.data(), data.size());
  }
  void Zeros(std::size_t count) {
    if (count > 0) std::memset(Room(count), 0, count);
  }
  // Zero bytes up to the next multiple of alignment (a power of two).
  void Align(std::size_t alignment) { Zeros((alignment - offset_ % alignment) % alignment); }
  // Moves to an absolute offset; the vector grows with zeros to reach it.
  void Seek(std::size_t offset) {
    if (offset > out_.size()) out_.resize(offset);
    offset_ = offset;
  }

  bool Ok() const { return true; }
  std::size_t Offset() const { return offset_; }

 private:
  void Put(uint64_t value, std::size_t size) { detail::PutLittleEndian(Room(size), value, size); }
  uint8_t* Room(std::size_t count) {
    if (count > out_.size() - offset_) out_.resize(offset_ + count);
    uint8_t* at = out_.data() + offset_;
    offset_ += count;
    return at;
  }

  std::vector<uint8_t>& out_;
  std::size_t offset_;
};

class SpanWriter {
 public:
  explicit SpanWriter(std::span<uint8_t> fixed) : data_(fixed) {}

  [[nodiscard]] bool U16(uint16_t value) { return Put(value, 2); }
  [[nodiscard]] bool U32(uint32_t value) { return Put(value, 4); }
  [[nodiscard]] bool U64(uint64_t value) { return Put(value, 8); }
  [[nodiscard]] bool Field(const uint16_t& value) { return U16(value); }
  [[nodiscard]] bool Field(const uint32_t& value) { return U32(value); }
  [[nodiscard]] bool Field(const uint64_t& value) { return U64(value); }
  template <std::size_t kSize>
  [[nodiscard]] bool Field(const char (&text)[kSize]) {
    return Bytes(std::span(reinterpret_cast<const uint8_t*>(text), kSize));
  }
  // A whole record's fields, in order; true when all were written.
  template <class... Ts>
  [[nodiscard]] bool Fields(const Ts&... fields) {
    return (Field(fields) && ...);
  }
  [[nodiscard]] bool Bytes(std::span<const uint8_t> data) {
    uint8_t* at = Room(data.size());
    if (at != nullptr && !data.empty()) std::memcpy(at, data.data(), data.size());
    return at != nullptr;
  }
  [[nodiscard]] bool Zeros(std::size_t count) {
    uint8_t* at = Room(count);
    if (at != nullptr && count > 0) std::memset(at, 0, count);
    return at != nullptr;
  }
  // Moves to an absolute offset inside the buffer (its end included).
  [[nodiscard]] bool Seek(std::size_t offset) {
    if (offset > data_.size()) ok_ = false;
    if (ok_) offset_ = offset;
    return ok_;
  }
  // A 32-bit field at an absolute offset.
  [[nodiscard]] bool U32At(uint64_t offset, uint32_t value) {
    return offset <= data_.size() && Seek(static_cast<std::size_t>(offset)) && U32(value);
  }

  [[nodiscard]] bool Ok() const { return ok_; }
  std::size_t Offset() const { return offset_; }

 private:
  [[nodiscard]] bool Put(uint64_t value, std::size_t size) {
    uint8_t* at = Room(size);
    if (at != nullptr) detail::PutLittleEndian(at, value, size);
    return at != nullptr;
  }
  // Where count bytes go, the writer advanced past them; null once failed.
  uint8_t* Room(std::size_t count) {
    if (!ok_ || count > data_.size() - offset_) {
      ok_ = false;
      return nullptr;
    }
    uint8_t* at = data_.data() + offset_;
    offset_ += count;
    return at;
  }

  std::span<uint8_t> data_;
  std::size_t offset_ = 0;
  bool ok_ = true;
};

// A 32-bit field at a fixed place of a fixed-size buffer: checked when
// compiled, so it cannot fail.
template <std::size_t kOffset, std::size_t kSize>
void StoreU32(std::span<uint8_t, kSize> fixed, uint32_t value) {
  static_assert(kOffset + 4 <= kSize, "the field lies outside the buffer");
  detail::PutLittleEndian(fixed.data() + kOffset, value, 4);
}

}  // namespace bytes

#pragma once
// Little-endian records written field by field, in record order: into a
// buffer of fixed size (a header on the stack), or onto a growing vector. A
// write past a fixed buffer's end fails the writer: nothing more is written
// and Ok() turns false. Seek goes back to fill in a field whose value is
// known only later (a length).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace bytes {

class ByteWriter {
 public:
  explicit ByteWriter(std::span<uint8_t> fixed) : data_(fixed.data()), size_(fixed.size()) {}
  // Appends at the vector's end, growing it as needed.
  explicit ByteWriter(std::vector<uint8_t>& growing)
      : data_(growing.data()), size_(growing.size()), offset_(growing.size()), vector_(&growing) {}

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
    if (uint8_t* at = Room(data.size()); at != nullptr && !data.empty()) {
      std::memcpy(at, data.data(), data.size());
    }
  }
  void Zeros(std::size_t count) {
    if (uint8_t* at = Room(count); at != nullptr && count > 0) std::memset(at, 0, count);
  }
  // Zero bytes up to the next multiple of alignment (a power of two).
  void Align(std::size_t alignment) { Zeros((alignment - offset_ % alignment) % alignment); }

  // Moves to an absolute offset inside what has been written or fits.
  void Seek(std::size_t offset) {
    if (offset > size_) ok_ = false;
    if (ok_) offset_ = offset;
  }

  bool Ok() const { return ok_; }
  std::size_t Offset() const { return offset_; }

 private:
  void Put(uint64_t value, std::size_t size) {
    if (uint8_t* at = Room(size)) {
      for (std::size_t i = 0; i < size; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
  }
  // Where count bytes go, the writer advanced past them; null once failed.
  uint8_t* Room(std::size_t count) {
    if (!ok_) return nullptr;
    if (count > size_ - offset_) {
      if (vector_ == nullptr) {
        ok_ = false;
        return nullptr;
      }
      vector_->resize(offset_ + count);
      data_ = vector_->data();
      size_ = vector_->size();
    }
    uint8_t* at = data_ + offset_;
    offset_ += count;
    return at;
  }

  uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
  std::vector<uint8_t>* vector_ = nullptr;
  bool ok_ = true;
};

}  // namespace bytes

#include "pe/reference_reader.h"

#include <algorithm>

#include "bytes/byte_reader.h"

namespace pe {

ReferenceReader::ReferenceReader(const PeImage& image, std::span<const uint8_t> held,
                                 const std::function<void(const Reference&)>& visit)
    : image_(image), held_(held), visit_(visit) {}

bool ReferenceReader::Readable(uint64_t rva, uint64_t length) const {
  return rva <= 0xFFFFFFFFu && length <= 0xFFFFFFFFu &&
         image_.RvaToOffset(static_cast<uint32_t>(rva), static_cast<uint32_t>(length),
                            held_.size());
}

std::optional<uint64_t> ReferenceReader::Value(uint64_t rva, uint32_t size) const {
  if (!Readable(rva, size)) return std::nullopt;
  const auto offset = image_.RvaToOffset(static_cast<uint32_t>(rva), size, held_.size());
  bytes::ByteReader in(held_, static_cast<std::size_t>(*offset));
  return size == 2 ? in.U16() : size == 4 ? in.U32() : in.U64();
}

std::optional<uint32_t> ReferenceReader::TextLength(uint64_t rva) const {
  if (!Readable(rva, 1)) return std::nullopt;
  const auto offset = *image_.RvaToOffset(static_cast<uint32_t>(rva), 1, held_.size());
  // The text must end inside the bytes the loader maps from the same section.
  const int index = image_.SectionOfRva(static_cast<uint32_t>(rva));
  uint64_t limit = image_.sizeOfHeaders;
  if (index >= 0) {
    const SectionHeader& s = image_.sections[static_cast<std::size_t>(index)];
    limit = s.rawPointer + image_.FileBackedSize(s);
  }
  // No name is longer; a crafted table of names without an end is not
  // scanned to its section's end for every entry.
  constexpr uint64_t kLongestText = uint64_t{64} << 10;
  limit = std::min<uint64_t>({limit, held_.size(), offset + kLongestText});
  const auto begin = held_.begin() + static_cast<std::ptrdiff_t>(offset);
  const auto end = held_.begin() + static_cast<std::ptrdiff_t>(std::max(limit, offset));
  const auto nul = std::find(begin, end, uint8_t{0});
  if (nul == end) return std::nullopt;
  return static_cast<uint32_t>(nul - begin + 1);
}

void ReferenceReader::Add(ReferenceKind kind, uint64_t start, uint64_t length) {
  visit_(Reference{kind, -1, false, start, length});
}

void ReferenceReader::AddDirectory(int index, DataDirectory d) {
  visit_(Reference{ReferenceKind::Directory, index, false, d.rva,
                   std::max<uint64_t>(d.size, 1)});
}

void ReferenceReader::AddFile(ReferenceKind kind, uint64_t offset, uint64_t length) {
  visit_(Reference{kind, -1, true, offset, length});
}

void ReferenceReader::AddPointer(ReferenceKind kind, uint64_t va) {
  if (va == 0) return;
  // An address outside the image is no reference of its own (an absolute
  // one the program computes with); it cannot point into a section.
  if (const auto rva = image_.VaToRva(va)) Add(kind, *rva);
}

bool ReferenceReader::AddText(ReferenceKind kind, uint64_t rva, const char* what) {
  const auto length = TextLength(rva);
  if (!length) return Fail(what);
  // A text read costs as many steps as the entries its bytes could hold.
  steps_ += *length / 2;
  Add(kind, rva, *length);
  return true;
}

bool ReferenceReader::Fail(const char* what) {
  if (scan_.unreadable.empty()) scan_.unreadable = what;
  return false;
}

bool ReferenceReader::Step(const char* what) {
  // Every entry takes at least two bytes of the image: more entries than
  // that means tables read over and over.
  if (++steps_ > held_.size() / 2 + 4096) return Fail(what);
  return true;
}

}  // namespace pe

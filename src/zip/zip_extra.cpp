#include "zip/zip_extra.h"

#include "bytes/byte_reader.h"

namespace trvzip::extra {

namespace {

constexpr std::size_t kBlockHeader = 4;

struct Block {
  uint16_t id;
  std::size_t start;  // of the block's header
  std::span<const uint8_t> data;
};

// Calls visit for each whole block; false when a block runs past the end.
template <class Visit>
bool Walk(std::span<const uint8_t> field, Visit visit) {
  bytes::ByteReader in(field);
  while (in.Has(kBlockHeader)) {
    const std::size_t start = in.Offset();
    const uint16_t id = in.U16();
    const uint16_t size = in.U16();
    if (!in.Has(size)) return false;
    visit(Block{id, start, in.Bytes(size)});
  }
  return true;
}

}  // namespace

bool Walkable(std::span<const uint8_t> field) {
  return Walk(field, [](const Block&) {});
}

std::span<const uint8_t> FindZip64(std::span<const uint8_t> field) {
  std::span<const uint8_t> found;
  bool seen = false;
  const bool whole = Walk(field, [&](const Block& b) {
    if (b.id == kZip64Id && !seen) found = b.data, seen = true;
  });
  return whole ? found : std::span<const uint8_t>();
}

bool ResolveZip64(std::span<const uint8_t> field, std::span<uint64_t* const> wanted,
                  uint32_t* disk) {
  if (wanted.empty() && disk == nullptr) return true;
  bytes::ByteReader in(FindZip64(field));
  for (uint64_t* value : wanted) *value = in.U64();
  if (disk != nullptr) *disk = in.U32();
  return in.Ok();
}

void WithoutZip64(std::span<const uint8_t> field, std::vector<uint8_t>* out) {
  out->clear();
  std::size_t end = 0;
  const bool whole = Walk(field, [&](const Block& b) {
    end = b.start + kBlockHeader + b.data.size();
    if (b.id != kZip64Id) out->insert(out->end(), field.begin() + b.start, field.begin() + end);
  });
  if (!whole) {
    out->assign(field.begin(), field.end());
    return;
  }
  out->insert(out->end(), field.begin() + end, field.end());
}

}  // namespace trvzip::extra

#pragma once
// A minimal archive writer for the targets that need an archive around their
// input: stored or raw-deflated members, no comments, no extra fields.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace fuzzsupport {

struct ZipMember {
  std::string name;
  std::vector<uint8_t> data;
  bool deflate = false;
};

// The archive, with every stored offset counted from `prefix` bytes before
// its first byte (where the caller puts them).
std::vector<uint8_t> BuildZip(const std::vector<ZipMember>& members, uint32_t prefix = 0);

}  // namespace fuzzsupport

#pragma once
// Extra fields: a run of blocks, each a 16-bit id, a 16-bit size and that
// many bytes. The ZIP64 block (id 0x0001) carries the 64-bit values that
// 0xFFFFFFFF (or 0xFFFF) placeholders in a header stand for.

#include <cstdint>
#include <span>
#include <vector>

namespace trvzip::extra {

inline constexpr uint16_t kZip64Id = 0x0001;

// Whether field is a run of whole blocks (fewer than four bytes after the
// last one are padding).
bool Walkable(std::span<const uint8_t> field);

// Where the ZIP64 block's data lies in field; empty when there is none or
// the blocks cannot be walked (a block running past the field's end).
std::span<const uint8_t> FindZip64(std::span<const uint8_t> field);

// Replaces each placeholder value named, in the order the ZIP64 block lists
// them (uncompressed size, compressed size, local header offset), by the
// block's 64-bit value, and *disk, when not null, by its 32-bit disk number.
// False when some value is wanted and the block is missing or too short.
bool ResolveZip64(std::span<const uint8_t> field, std::span<uint64_t* const> wanted,
                  uint32_t* disk);

// The field as the rewrite writes it: without its ZIP64 blocks, whose values
// the plain headers then hold. A field that cannot be walked stays whole;
// fewer than four bytes after the last block (padding) stay too.
void WithoutZip64(std::span<const uint8_t> field, std::vector<uint8_t>* out);

}  // namespace trvzip::extra

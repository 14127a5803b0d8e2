#pragma once
// Lays out a resource section from scratch.

#include <cstdint>
#include <optional>
#include <vector>

#include "pe/resource_tree.h"

namespace pe {

// The bytes of a resource directory holding `leaves` (in any order), to be
// loaded at baseRva: the tables (root, then the name tables, then the
// language tables, each sorted as the loader's search needs), the data
// entries, the name strings, then each leaf's data aligned to 8 bytes.
// nullopt when the section would pass 2 GiB or a table hold more entries of
// one kind (named or numbered) than its 16-bit counts can state.
std::optional<std::vector<uint8_t>> LayoutResources(std::vector<ResourceLeaf> leaves,
                                                    uint32_t baseRva);

// The size LayoutResources gives, without laying anything out; beyond
// 0x7FFFFFFF when it would refuse.
uint64_t ResourceSectionSize(std::vector<ResourceLeaf> leaves);

}  // namespace pe

#pragma once
// How the build may make room for its output at a name where an entry
// stands, on Windows, from the entry's attributes and its reparse tag (0
// when it has none). A link (a symbolic link or a junction) goes as the link
// itself, whatever it points at. Anything else, a reparse point that stands
// for a file or folder that is there (a deduplicated file, a cloud
// placeholder) included, goes only when it is neither a folder nor
// read-only. The values are the system's own; the Windows build checks them
// against its headers.

#include <cstdint>

namespace platform {

constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeReparsePoint = 0x400;
constexpr uint32_t kReparseTagMountPoint = 0xA0000003;
constexpr uint32_t kReparseTagSymlink = 0xA000000C;

enum class Replacement { kAsLink, kAsFile, kNever };

constexpr Replacement ReplacementOf(uint32_t attributes, uint32_t reparseTag) {
  const bool link = (attributes & kAttributeReparsePoint) != 0 &&
                    (reparseTag == kReparseTagSymlink || reparseTag == kReparseTagMountPoint);
  if (link) return Replacement::kAsLink;
  if ((attributes & (kAttributeDirectory | kAttributeReadOnly)) != 0) return Replacement::kNever;
  return Replacement::kAsFile;
}

}  // namespace platform

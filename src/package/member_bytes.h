#pragma once
// Reading whole archive members into memory, refusing sizes a hostile
// archive may declare to make us allocate far more than it holds.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zip/zip_file_entry.h"

// The largest member the package layer reads; package documents and
// configuration files are a few kilobytes. Three such members and the trees
// parsed from them stay far below the memory a build may take.
inline constexpr uint32_t kMaxMemberSize = 16u << 20;

// True when the member's declared sizes can be real for an archive file of
// archiveSize bytes: not above kMaxMemberSize, stored data within the file,
// and no more output than its method can produce from that data.
bool IsPlausibleMemberSize(const trvzip::ZIP_FileEntry& entry, uint64_t archiveSize);

// The member's whole uncompressed data; nullopt when it is encrypted or uses
// a method that cannot be extracted, its sizes are not plausible or the
// extraction fails, and then *why (when not null) says which.
std::optional<std::vector<uint8_t>> ExtractMember(trvzip::ZIP_FileEntry& entry,
                                                  uint64_t archiveSize,
                                                  std::string* why = nullptr);

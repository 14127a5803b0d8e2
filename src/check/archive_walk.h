#pragma once
// The archive of a package, walked record by record: its end record (and
// ZIP64 end record), every central header, every local header where its
// central header says and agreeing with it, and the spans the members take,
// each fault found reported to a sink. Unlike opening an archive, the walk
// goes on past a fault wherever the records still tell where the next one is.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "check/finding.h"
#include "platform/file_handle.h"

namespace check {

// How strict the walk is. A package the build has just written holds its
// members back to back from the archive's planned start, the central
// directory behind them and the end record at the very end. A package
// found as it is (signed since, perhaps) may end in a certificate table,
// and a gap between members is only a note.
enum class Strictness { kWritten, kWhole };

struct MemberSpan {
  uint64_t centralAt = 0;
  uint64_t localAt = 0;
  uint64_t dataAt = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint64_t recordEnd = 0;  // behind the data and its descriptor
  uint32_t crc32 = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
  uint32_t nameAt = 0;  // in ArchiveWalk::names
  uint16_t nameLength = 0;
  // The local header was found and agrees: where the data lies is known.
  bool located = false;
};

struct ArchiveWalk {
  uint64_t endAt = 0;   // the end record
  uint64_t endEnd = 0;  // behind it and its comment
  uint64_t directoryAt = 0;
  uint64_t directoryEnd = 0;  // where the end records begin
  uint64_t start = 0;         // the first member's local header, or the directory
  bool zip64 = false;
  std::vector<MemberSpan> members;  // in directory order
  std::string names;

  std::string Name(const MemberSpan& m) const { return names.substr(m.nameAt, m.nameLength); }
};

// Walks the archive that ends at limit (the file's size, or where a
// certificate table behind the archive begins). nullopt when no end record
// can be found, or its directory cannot be reached; the fault is reported.
std::optional<ArchiveWalk> WalkArchive(const platform::FileHandle& file, uint64_t fileSize,
                                       uint64_t limit, Strictness strictness, FindingSink& sink);

// Checks the spans: members that overlap each other or the central directory
// (their located flag cleared, so that their data is not read twice), gaps,
// and what lies between archiveStart (where the archive is to begin) and the
// first member.
void CheckSpans(ArchiveWalk& walk, Strictness strictness, FindingSink& sink);

}  // namespace check

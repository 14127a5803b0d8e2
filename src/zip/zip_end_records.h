#pragma once
// The records at the end of an archive: the end of central directory record
// and, when the directory's place or member count does not fit it, the ZIP64
// end record in front of it, found through the ZIP64 locator between them.

#include <cstdint>
#include <optional>

#include "platform/file_handle.h"
#include "zip/zip_records.h"
#include "zip/zip_result.h"

namespace trvzip {

class BlockReader;
class OutputBuffer;

// The central directory as the end records state it, placeholders resolved.
struct DirectoryPlace {
  uint64_t disk = 0, directoryDisk = 0, recordsOnDisk = 0, totalRecords = 0;
  uint64_t offset = 0, size = 0;
  // Where the end records begin: the directory must end at or before it.
  uint64_t recordsStart = 0;
};

// Where the end record nearest limit (the file's size, or where bytes that
// follow the archive begin) lies: the last signature within the 65,557 bytes
// in front of limit. nullopt when there is none, or a read fails.
std::optional<uint64_t> FindEndRecord(const platform::FileHandle& file, uint64_t limit);

// The values of the end record at endAt, and of the ZIP64 end record when
// the locator in front of it leads to one. The ZIP64 record must end where
// the locator begins, lie behind the directory it describes, and agree with
// every end record value that is not a placeholder. A 32-bit placeholder
// without such a record is damage; so is a record that breaks these rules
// while the end record needs it. Without placeholders a locator that leads
// nowhere is ignored (an archive put behind a prefix keeps its stale ZIP64
// offset, and the plain values hold), and so are the directory's own last
// 20 bytes when they happen to look like a locator.
int ReadEndRecords(BlockReader& reader, uint64_t endAt, const records::EndRecord& end,
                        DirectoryPlace* place);

// Writes the end records of a directory of count headers, size bytes at
// offset: a ZIP64 end record and locator only when one of these values does
// not fit the end record, which then holds a placeholder for exactly those.
bool WriteEndRecords(OutputBuffer& output, uint64_t count, uint64_t offset, uint64_t size,
                     uint16_t commentLength);

}  // namespace trvzip

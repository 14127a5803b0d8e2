#pragma once
// An archive that stands alone or at the end of another file (its prefix),
// with every stored offset counted from byte 0 of the whole file.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "zip/output_buffer.h"
#include "zip/zip_file_entry.h"
#include "zip/zip_result.h"

namespace trvzip {

class BlockReader;

class ZIP_File {
 public:
  ZIP_File() = default;
  virtual ~ZIP_File() { Close(); }
  ZIP_File(const ZIP_File&) = delete;
  ZIP_File& operator=(const ZIP_File&) = delete;

  // Opens the archive at path and reads its directory; a failed open leaves
  // the object closed and empty. readOnly lets other readers share the file;
  // otherwise it is held exclusively.
  int Open(const std::string& path, bool readOnly);
  // The same on held, a file already open for reading, so that what is read
  // is that file whatever its name names by now; kept until Close, closed
  // with the object on failure. The archive is read-only.
  int Open(platform::FileHandle held);
  // Releases the members, the comment and the file. Always 0.
  int Close();

  // The first member, in directory order, whose name equals name (converted
  // to the thread's ANSI code page) with ASCII letters compared without
  // regard to case; null when none or when name is null.
  ZIP_FileEntry* FindEntry(const char16_t* name);
  uint32_t GetEntryCount() const { return entryCount; }

  // The prefix size the next Save lays the members out behind.
  void SetPrefixSize(uint64_t n) { prefixSize = n; }
  // The next saves write the members alone, without a copy of the bytes that
  // stood in front of them in the source.
  void LeaveOutPrefix() { hasPrefix = false; }
  // Every byte the next saves write is shown to observer as it is written.
  void SetWriteObserver(WriteObserver observer) { writeObserver = std::move(observer); }
  // Writes the archive anew to path (a new file takes the name), members
  // back to back from prefixSize on (behind a copy of the source's prefix
  // when it had one). Afterwards the object is closed, or open on the saved
  // file when reopen is true.
  int Save(const std::string& path, bool reopen);
  // The same into output, a new empty file the caller holds and keeps;
  // afterwards the object is closed, or on failure still open on its source.
  int Save(platform::FileHandle& output);

  uint64_t GetPrefixSize() const { return prefixSize; }
  bool HasPrefix() const { return hasPrefix; }
  bool IsOpen() const { return file.IsOpen(); }
  // Size of the whole file the archive is in; 0 when closed.
  uint64_t GetFileSize() const { return file.Size().value_or(0); }
  // The open file's identity, size and modification time; absent when closed.
  std::optional<platform::FileStamp> Stamp() const { return file.Stamp(); }
  // The archive comment, cut at its first zero byte; null when there is none.
  const char* GetComment() const { return comment ? comment->c_str() : nullptr; }

  // The members in directory order; owned by this object until the next
  // Close, Open or Save.
  std::vector<ZIP_FileEntry*> Entries() const;

 private:
  int ReadOpened();
  int64_t FindEndRecord();
  int ReadDirectory();
  int ReadEndRecord(BlockReader& reader, uint64_t position, uint32_t* total);
  int ReadMember(BlockReader& central, BlockReader& local, uint64_t* position,
                 uint64_t* lowest);
  std::size_t KeepString(BlockReader& reader, uint64_t position, uint16_t length, uint16_t* got);
  bool KeepName(BlockReader& central, uint64_t centralAt, BlockReader& local, uint64_t localAt,
                uint16_t length, ZIP_FileEntry& e);
  int Write(platform::FileHandle& output);
  int WriteArchive(OutputBuffer& output);
  int LayOutMembers();
  int WriteCentralDirectory(OutputBuffer& output, BlockReader& extras) const;
  bool ReadExtra(BlockReader& reader, uint64_t position, uint16_t length,
                 std::vector<uint8_t>& out);
  int ReadCentralValues(const records::CentralHeader& ch, ZIP_FileEntry& e);
  int ReadLocal(BlockReader& central, uint64_t centralNameAt, BlockReader& local,
                const records::CentralHeader& ch, ZIP_FileEntry& e);
  void KeepExtraFields(uint64_t centralAt, uint16_t centralLength, uint64_t localAt,
                       uint16_t localLength, ZIP_FileEntry& e);

  // Members, allocated once for the count the end record states.
  std::unique_ptr<ZIP_FileEntry[]> entries;
  uint32_t entryCount = 0;
  // Every member's kept name, followed by a zero byte, and its extra field
  // when short; the members point into it once the directory has been read.
  std::vector<char> strings;
  std::string scratch;  // a central name, to compare with the local one
  std::vector<uint8_t> centralExtra, localExtra, keptExtra;  // the current member's
  std::optional<std::string> comment;
  platform::FileHandle file;
  WriteObserver writeObserver;
  bool readOnly = true;
  bool hasPrefix = false;
  uint64_t prefixSize = 0;
  uint64_t centralDirOffset = 0;
  uint64_t centralDirEnd = 0;  // as the end records state it
};

}  // namespace trvzip

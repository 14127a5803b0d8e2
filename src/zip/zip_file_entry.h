#pragma once
// One member of an open archive: its values, where its data lies, and the
// operations that extract it or write it into a rewritten archive.
// The member stands apart from the records that carry it: its sizes and
// offsets are 64-bit, the central header's values with ZIP64 placeholders
// resolved and the descriptor flag cleared (the rewrite puts every value in
// the local header); nameLength and extraLength are the lengths of the
// strings as written, the extra field without its ZIP64 block, which the
// writers add where the values call for it (Zip64Fields). An encrypted member
// written with a descriptor keeps it and its flag: its password check byte
// comes from the modification time then, and readers know that by the flag.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "zip/zip_read_state.h"
#include "zip/zip_records.h"
#include "zip/zip_result.h"

namespace trvzip {

class BlockReader;
class OutputBuffer;
class ZIP_File;

// The values of a member that do not fit a header's 32-bit field, and so go
// into a ZIP64 extra block, in the order the block lists them.
struct Zip64Fields {
  bool uncompressedSize = false, compressedSize = false, localHeaderOffset = false;
  std::size_t Count() const {
    return std::size_t{uncompressedSize} + compressedSize + localHeaderOffset;
  }
  // Length of the extra block that holds them; 0 when none is needed.
  std::size_t BlockSize() const { return Count() == 0 ? 0 : 4 + 8 * Count(); }
};

class ZIP_FileEntry {
 public:
  ZIP_FileEntry() = default;
  ZIP_FileEntry(const ZIP_FileEntry&) = delete;
  ZIP_FileEntry& operator=(const ZIP_FileEntry&) = delete;

  // The name as kept: the stored bytes up to the first zero byte, with a
  // terminating zero; null when the stored length was 0.
  const char* GetName() const { return name; }
  std::size_t GetNameLength() const { return nameLength; }
  // The local header's extra field as the rewrite writes it, read from the
  // archive: whole but for its ZIP64 blocks. Empty when there is none or it
  // cannot be read.
  std::string ExtraField() const;
  std::size_t GetExtraFieldLength() const { return extraLength; }
  // The central header's extra field as written: the local one, or the
  // central header's own (but for its ZIP64 blocks) when the local one
  // cannot be walked as blocks.
  std::size_t GetCentralExtraLength() const { return centralExtraLength; }
  // Whether the member is written with its data descriptor, and its flag in
  // the local header.
  bool KeepsDescriptor() const { return keepsDescriptor; }

  // Why Extract cannot deliver this member (kZipErrorEncrypted, or
  // kZipErrorMethod for a method it lacks); kZipOk when it can try.
  int UnreadableCause() const;

  // Reads the whole member into buffer (size bytes available) and checks its
  // CRC-32. 0 on success. A buffer smaller than the member receives the first
  // size bytes with 0; a member that cannot be produced in full into a buffer
  // large enough fails with the read step's code (-2 when it gave none).
  int Extract(void* buffer, uint32_t size);

  // The three steps of an extraction; ReadData may run any number of times
  // between the other two and continues where it stopped.
  int OpenRead(ZipReadState* state);
  int ReadData(void* buffer, uint32_t length, ZipReadState* state, uint32_t* produced);
  int CloseRead(ZipReadState* state);

  // The ZIP64 fields the headers written for this member need: in the local
  // header both sizes when either does not fit (it lists both or none); in
  // the central header exactly the values that do not fit, the offset as
  // laid out. The one place that decides where ZIP64 is written.
  Zip64Fields LocalZip64() const;
  Zip64Fields CentralZip64() const;

  // Record sizes as written: header, kept name and extra field with the ZIP64
  // block the record needs (and the data and its descriptor).
  uint64_t LocalRecordSize() const;
  uint64_t CentralRecordSize() const;
  // The descriptor written behind the data: 0 when there is none.
  std::size_t DescriptorSize() const;

  // Steps of ZIP_File::Save: 0 or a negative code.
  // extraField is the field as ExtraBytes gives it for that header.
  int WriteLocalHeader(OutputBuffer& output, std::span<const uint8_t> extraField) const;
  int WriteCentralHeader(OutputBuffer& output, std::span<const uint8_t> extraField) const;
  // The extra field to write in the local or the central header, from
  // memory when it is held, else read from source into scratch; empty with
  // false when the source no longer holds what was read when the archive
  // was opened.
  bool ExtraBytes(BlockReader& source, std::vector<uint8_t>& scratch,
                  std::span<const uint8_t>* field, bool central = false) const;
  // The data, and the descriptor behind it when the member keeps one.
  int CopyData(BlockReader& source, OutputBuffer& output) const;

  // The values both headers carry.
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t modTime = 0;
  uint16_t modDate = 0;
  uint32_t crc32 = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  // The central header's own.
  uint16_t versionMadeBy = 0;
  uint16_t diskNumberStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  uint64_t localHeaderOffset = 0;
  platform::FileHandle* sourceFile = nullptr;  // borrowed from the ZIP_File
  uint64_t dataOffset = 0;  // compressedSize bytes from here on

 private:
  friend class ZIP_File;
  static constexpr std::size_t kNoString = SIZE_MAX;

  // The name lives in the archive's string store, at nameAt until the
  // directory has been read. So does a short extra field (heldExtra); a
  // longer one is read again from the archive when written, so that no
  // header's claim makes the directory take more memory than it occupies.
  const char* name = nullptr;
  const uint8_t* heldExtra = nullptr;
  std::size_t nameAt = 0;
  std::size_t heldExtraAt = kNoString;
  uint64_t storedExtraAt = 0;  // absolute position of the local extra field
  uint16_t storedExtraLength = 0;
  // The central header's own extra field, written only when the local one
  // cannot be walked (ownCentralExtra); read again when written.
  uint64_t storedCentralExtraAt = 0;
  uint16_t storedCentralExtraLength = 0;
  uint16_t centralExtraLength = 0;
  bool ownCentralExtra = false;
  bool keepsDescriptor = false;
};

}  // namespace trvzip

// Opening, closing, look-up and rewriting of an archive.

#include "zip/zip_file.h"

#include <algorithm>
#include <string_view>

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "zip/block_reader.h"
#include "zip/zip_end_records.h"
#include "zip/zip_records.h"

namespace trvzip {

using namespace records;

namespace {

// Member data is read ahead in blocks, so that runs of small members cost one
// read between them; large members bypass the block.
constexpr std::size_t kSourceBlock = 256u << 10;
// Extra fields too long to be held are read again for the central directory,
// each on its own.
constexpr std::size_t kExtraBlock = 4u << 10;

}  // namespace

int ZIP_File::Open(const std::string& path, bool readOnlyAccess) {
  if (file.IsOpen() || entryCount > 0) Close();
  readOnly = readOnlyAccess;
  const auto access = readOnly ? platform::Access::Read : platform::Access::ReadWrite;
  const auto share = readOnly ? platform::Share::Read : platform::Share::None;
  if (!file.Open(path, access, share, platform::Disposition::OpenExisting)) {
    return kZipErrorOpen;
  }
  return ReadOpened();
}

int ZIP_File::Open(platform::FileHandle held) {
  if (file.IsOpen() || entryCount > 0) Close();
  readOnly = true;
  if (!held.IsOpen()) return kZipErrorOpen;
  file = std::move(held);
  return ReadOpened();
}

int ZIP_File::ReadOpened() {
  const int result = ReadDirectory();
  if (prefixSize > 0) hasPrefix = true;
  if (result != kZipOk) Close();
  return result;
}

int ZIP_File::Close() {
  comment.reset();
  entries.reset();
  entryCount = 0;
  strings = std::vector<char>();
  file.Close();
  hasPrefix = false;
  readOnly = true;
  prefixSize = 0;
  centralDirOffset = centralDirEnd = 0;
  return kZipOk;
}

ZIP_FileEntry* ZIP_File::FindEntry(const char16_t* name) {
  if (name == nullptr) return nullptr;
  const auto narrow = platform::WideToCodePage(name, platform::kCodePageThreadAnsi);
  if (!narrow) return nullptr;
  for (uint32_t i = 0; i < entryCount; ++i) {
    ZIP_FileEntry& e = entries[i];
    if (e.GetName() != nullptr &&
        platform::EqualsNoCaseAscii<char>(*narrow, {e.GetName(), e.GetNameLength()})) {
      return &e;
    }
  }
  return nullptr;
}

std::vector<ZIP_FileEntry*> ZIP_File::Entries() const {
  std::vector<ZIP_FileEntry*> list;
  list.reserve(entryCount);
  for (uint32_t i = 0; i < entryCount; ++i) list.push_back(&entries[i]);
  return list;
}

int ZIP_File::Save(const std::string& path, bool reopen) {
  int result = kZipOk;
  {
    platform::FileHandle output;
    if (!output.Open(path, platform::Access::ReadWrite, platform::Share::None,
                     platform::Disposition::CreateAlways)) {
      return kZipErrorWrite;
    }
    result = Write(output);
  }
  // On failure the object stays open on its source; the partial output is
  // the caller's to remove.
  if (result != kZipOk) return result;
  if (reopen) return Open(path, readOnly);
  Close();
  return kZipOk;
}

int ZIP_File::Save(platform::FileHandle& output) {
  const int result = Write(output);
  if (result == kZipOk) Close();
  return result;
}

int ZIP_File::Write(platform::FileHandle& output) {
  OutputBuffer buffer(output, writeObserver);
  const int result = WriteArchive(buffer);
  return !buffer.Flush() && result == kZipOk ? kZipErrorWrite : result;
}

int ZIP_File::WriteArchive(OutputBuffer& output) {
  BlockReader source(file, kSourceBlock);
  if (hasPrefix && file.IsOpen() && !source.CopyTo(0, prefixSize, output)) {
    return output.Failed() ? kZipErrorWrite : kZipErrorRead;
  }
  if (const int r = LayOutMembers()) return r;
  std::vector<uint8_t> scratch;
  std::span<const uint8_t> extraField;
  for (uint32_t i = 0; i < entryCount; ++i) {
    if (!entries[i].ExtraBytes(source, scratch, &extraField)) return kZipErrorSourceChanged;
    if (const int r = entries[i].WriteLocalHeader(output, extraField)) return r;
    if (const int r = entries[i].CopyData(source, output)) return r;
  }
  BlockReader extras(file, kExtraBlock);
  return WriteCentralDirectory(output, extras);
}

// Places the members back to back from prefixSize on, in directory order.
// Fails rather than write an extra field that its ZIP64 block would take
// past its 16-bit length.
int ZIP_File::LayOutMembers() {
  uint64_t offset = prefixSize;
  for (uint32_t i = 0; i < entryCount; ++i) {
    ZIP_FileEntry& e = entries[i];
    e.localHeaderOffset = offset;
    if (e.extraLength + e.LocalZip64().BlockSize() > kPlaceholder16 ||
        e.centralExtraLength + e.CentralZip64().BlockSize() > kPlaceholder16) {
      return kZipErrorTooLarge;
    }
    offset += e.LocalRecordSize();
  }
  centralDirOffset = offset;
  return kZipOk;
}

int ZIP_File::WriteCentralDirectory(OutputBuffer& output, BlockReader& extras) const {
  uint64_t directorySize = 0;
  std::vector<uint8_t> scratch;
  std::span<const uint8_t> extraField;
  for (uint32_t i = 0; i < entryCount; ++i) {
    if (!entries[i].ExtraBytes(extras, scratch, &extraField, true)) return kZipErrorSourceChanged;
    if (const int r = entries[i].WriteCentralHeader(output, extraField)) return r;
    directorySize += entries[i].CentralRecordSize();
  }
  const auto commentLength = comment ? static_cast<uint16_t>(comment->size()) : uint16_t{0};
  if (!WriteEndRecords(output, entryCount, centralDirOffset, directorySize, commentLength)) {
    return kZipErrorWrite;
  }
  if (commentLength > 0 && !output.Put(comment->data(), commentLength)) {
    return kZipErrorWrite;
  }
  return kZipOk;
}

}  // namespace trvzip

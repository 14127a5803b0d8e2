// Opening, closing, look-up and rewriting of an archive.

#include "zip/zip_file.h"

#include <string_view>

#include "platform/ascii.h"
#include "platform/code_page.h"
#include "zip/output_buffer.h"
#include "zip/zip_format.h"

namespace trvzip {

using namespace format;

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return platform::EqualsNoCaseAscii(a, b);
}

}  // namespace

int ZIP_File::Open(const std::string& path, bool readOnlyAccess) {
  if (file.IsOpen() || !entries.empty()) Close();
  readOnly = readOnlyAccess;
  const auto access = readOnly ? platform::Access::Read : platform::Access::ReadWrite;
  const auto share = readOnly ? platform::Share::Read : platform::Share::None;
  if (!file.Open(path, access, share, platform::Disposition::OpenExisting)) {
    return kZipErrorOpen;
  }
  const int result = ReadDirectory();
  if (prefixSize > 0) hasPrefix = true;
  if (result != kZipOk) Close();
  return result;
}

int ZIP_File::Close() {
  comment.reset();
  entries.clear();
  file.Close();
  hasPrefix = false;
  readOnly = true;
  prefixSize = 0;
  centralDirOffset = 0;
  return kZipOk;
}

ZIP_FileEntry* ZIP_File::FindEntry(const char16_t* name) {
  if (name == nullptr) return nullptr;
  const auto narrow = platform::WideToCodePage(std::u16string_view(name), platform::kCodePageThreadAnsi);
  if (!narrow) return nullptr;
  for (const auto& entry : entries) {
    if (entry->name && EqualsNoCase(*narrow, *entry->name)) return entry.get();
  }
  return nullptr;
}

std::vector<ZIP_FileEntry*> ZIP_File::Entries() const {
  std::vector<ZIP_FileEntry*> list;
  list.reserve(entries.size());
  for (const auto& entry : entries) list.push_back(entry.get());
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
    OutputBuffer buffer(output);
    result = WriteArchive(buffer);
    if (!buffer.Flush() && result == kZipOk) result = kZipErrorWrite;
  }
  // On failure the object stays open on its source; the partial output is
  // the caller's to remove.
  if (result != kZipOk) return result;
  if (reopen) return Open(path, readOnly);
  Close();
  return kZipOk;
}

int ZIP_File::WriteArchive(OutputBuffer& output) {
  if (hasPrefix && file.IsOpen()) {
    if (!file.Seek(0)) return kZipErrorSeek;
    if (!CopyFileRange(file, output, prefixSize)) return kZipErrorWrite;
  }
  if (const int r = LayOutMembers()) return r;
  for (const auto& entry : entries) {
    if (const int r = entry->WriteLocalHeader(output)) return r;
    if (const int r = entry->CopyData(output)) return r;
  }
  return WriteCentralDirectory(output);
}

// Places the members back to back from prefixSize on, in directory order.
// Fails rather than write offsets or sizes that do not fit in 32 bits.
int ZIP_File::LayOutMembers() {
  uint64_t offset = prefixSize;
  uint64_t directorySize = 0;
  for (const auto& entry : entries) {
    if (offset > kMaxOffset) return kZipErrorWrite;
    entry->localHeaderOffset = static_cast<uint32_t>(offset);
    offset += entry->LocalRecordSize();
    directorySize += entry->CentralRecordSize();
  }
  if (offset > kMaxOffset || entries.size() > kMaxMembers) return kZipErrorWrite;
  centralDirOffset = static_cast<uint32_t>(offset);
  // The whole file must stay within 32-bit sizes, or it could not be read back.
  const uint64_t end = offset + directorySize + kEndRecordSize + (comment ? comment->size() : 0);
  return end > kMaxOffset ? kZipErrorWrite : kZipOk;
}

int ZIP_File::WriteCentralDirectory(OutputBuffer& output) const {
  uint64_t directorySize = 0;
  for (const auto& entry : entries) {
    if (const int r = entry->WriteCentralHeader(output)) return r;
    directorySize += entry->CentralRecordSize();
  }
  const uint32_t count = static_cast<uint32_t>(entries.size());
  const uint32_t commentLength = comment ? static_cast<uint32_t>(comment->size()) : 0;
  uint8_t record[kEndRecordSize];
  uint8_t* p = Put32(record, kEndSignature);
  p = Put32(p, 0);  // this disk, the directory's disk
  p = Put16(p, count);
  p = Put16(p, count);
  p = Put32(p, static_cast<uint32_t>(directorySize));
  p = Put32(p, centralDirOffset);
  Put16(p, commentLength);
  if (!output.Put(record, sizeof record)) return kZipErrorWrite;
  if (commentLength > 0 && !output.Put(comment->data(), commentLength)) {
    return kZipErrorNoEndRecord;
  }
  return kZipOk;
}

}  // namespace trvzip

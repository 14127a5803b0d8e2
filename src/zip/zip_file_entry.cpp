// A member's records as written by ZIP_File::Save, and its data copy.

#include "zip/zip_file_entry.h"

#include "zip/block_reader.h"
#include "zip/output_buffer.h"
#include "zip/zip_result.h"

namespace trvzip {

using namespace records;

namespace {

// A header followed by the kept strings, so the stated lengths always match.
template <class Header>
int PutRecord(OutputBuffer& output, const Header& header, const ZIP_FileEntry& e) {
  const auto bytes = Encode(header);
  const bool ok = output.Put(bytes.data(), bytes.size()) &&
                  output.Put(e.GetName(), e.GetNameLength()) &&
                  output.Put(e.GetExtraField(), e.GetExtraFieldLength());
  return ok ? kZipOk : kZipErrorWrite;
}

}  // namespace

uint64_t ZIP_FileEntry::LocalRecordSize() const {
  return LocalHeader::kSize + nameLength + extraLength + compressedSize;
}

uint64_t ZIP_FileEntry::CentralRecordSize() const {
  return CentralHeader::kSize + nameLength + extraLength;
}

int ZIP_FileEntry::WriteLocalHeader(OutputBuffer& output) const {
  LocalHeader header;
  header.common = *this;
  return PutRecord(output, header, *this);
}

int ZIP_FileEntry::WriteCentralHeader(OutputBuffer& output) const {
  CentralHeader header;
  header.versionMadeBy = versionMadeBy;
  header.common = *this;
  header.commentLength = 0;  // members carry no comment
  header.diskNumberStart = diskNumberStart;
  header.internalAttributes = internalAttributes;
  header.externalAttributes = externalAttributes;
  header.localHeaderOffset = localHeaderOffset;
  return PutRecord(output, header, *this);
}

int ZIP_FileEntry::CopyData(BlockReader& source, OutputBuffer& output) const {
  if (sourceFile == nullptr) return kZipErrorSeek;
  return source.CopyTo(dataOffset, compressedSize, output) ? kZipOk : kZipErrorWrite;
}

}  // namespace trvzip

// A member's records as written by ZIP_File::Save, and its data copy.

#include "zip/zip_file_entry.h"

#include <array>

#include "zip/block_reader.h"
#include "zip/output_buffer.h"
#include "zip/zip_records.h"
#include "zip/zip_result.h"

namespace trvzip {

using namespace records;

namespace {

CommonFields Common(const ZIP_FileEntry& e) {
  CommonFields c;
  c.versionNeeded = static_cast<uint16_t>(e.versionNeeded);
  c.flags = static_cast<uint16_t>(e.flags);
  c.method = static_cast<uint16_t>(e.method);
  c.modTime = static_cast<uint16_t>(e.modTime);
  c.modDate = static_cast<uint16_t>(e.modDate);
  c.crc32 = e.crc32;
  c.compressedSize = e.compressedSize;
  c.uncompressedSize = e.uncompressedSize;
  c.nameLength = static_cast<uint16_t>(e.GetNameLength());
  c.extraLength = static_cast<uint16_t>(e.GetExtraFieldLength());
  return c;
}

// A header followed by the kept strings, so the stated lengths always match.
template <std::size_t kSize, class Header>
int PutRecord(OutputBuffer& output, const Header& header, const ZIP_FileEntry& e) {
  std::array<uint8_t, kSize> bytes;
  bytes::ByteWriter writer(bytes);
  Write(writer, header);
  const bool ok = output.Put(bytes.data(), bytes.size()) &&
                  output.Put(e.GetName(), e.GetNameLength()) &&
                  output.Put(e.GetExtraField(), e.GetExtraFieldLength());
  return ok ? kZipOk : kZipErrorWrite;
}

}  // namespace

uint64_t ZIP_FileEntry::LocalRecordSize() const {
  return kLocalHeaderSize + GetNameLength() + GetExtraFieldLength() + dataSize;
}

uint64_t ZIP_FileEntry::CentralRecordSize() const {
  return kCentralHeaderSize + GetNameLength() + GetExtraFieldLength();
}

int ZIP_FileEntry::WriteLocalHeader(OutputBuffer& output) const {
  LocalHeader header;
  header.common = Common(*this);
  return PutRecord<kLocalHeaderSize>(output, header, *this);
}

int ZIP_FileEntry::WriteCentralHeader(OutputBuffer& output) const {
  CentralHeader header;
  header.versionMadeBy = static_cast<uint16_t>(versionMadeBy);
  header.common = Common(*this);
  header.commentLength = 0;  // members carry no comment
  header.diskNumberStart = static_cast<uint16_t>(diskNumberStart);
  header.internalAttributes = static_cast<uint16_t>(internalAttributes);
  header.externalAttributes = externalAttributes;
  header.localHeaderOffset = localHeaderOffset;
  return PutRecord<kCentralHeaderSize>(output, header, *this);
}

int ZIP_FileEntry::CopyData(BlockReader& source, OutputBuffer& output) const {
  if (sourceFile == nullptr) return kZipErrorSeek;
  return source.CopyTo(dataOffset, dataSize, output) ? kZipOk : kZipErrorWrite;
}

}  // namespace trvzip

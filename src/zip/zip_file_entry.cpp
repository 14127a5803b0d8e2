// A member's records as written by ZIP_File::Save, and its data copy.

#include "zip/zip_file_entry.h"

#include "zip/output_buffer.h"
#include "zip/zip_format.h"
#include "zip/zip_result.h"

namespace trvzip {

using namespace format;

namespace {

// Writes the kept strings after a header, so the stated lengths always match.
bool PutStrings(OutputBuffer& output, const ZIP_FileEntry& e) {
  return output.Put(e.GetName(), e.GetNameLength()) &&
         output.Put(e.GetExtraField(), e.GetExtraFieldLength());
}

// The fields that local and central headers share, from "version needed" on.
uint8_t* PutCommonFields(uint8_t* p, const ZIP_FileEntry& e) {
  p = Put16(p, e.versionNeeded);
  p = Put16(p, e.flags);
  p = Put16(p, e.method);
  p = Put16(p, e.modTime);
  p = Put16(p, e.modDate);
  p = Put32(p, e.crc32);
  p = Put32(p, e.compressedSize);
  p = Put32(p, e.uncompressedSize);
  p = Put16(p, static_cast<uint32_t>(e.GetNameLength()));
  return Put16(p, static_cast<uint32_t>(e.GetExtraFieldLength()));
}

}  // namespace

uint64_t ZIP_FileEntry::LocalRecordSize() const {
  return kLocalHeaderSize + GetNameLength() + GetExtraFieldLength() + dataSize;
}

uint64_t ZIP_FileEntry::CentralRecordSize() const {
  return kCentralHeaderSize + GetNameLength() + GetExtraFieldLength();
}

int ZIP_FileEntry::WriteLocalHeader(OutputBuffer& output) const {
  uint8_t header[kLocalHeaderSize];
  PutCommonFields(Put32(header, kLocalSignature), *this);
  return output.Put(header, sizeof header) && PutStrings(output, *this) ? kZipOk
                                                                        : kZipErrorWrite;
}

int ZIP_FileEntry::WriteCentralHeader(OutputBuffer& output) const {
  uint8_t header[kCentralHeaderSize];
  uint8_t* p = Put16(Put32(header, kCentralSignature), versionMadeBy);
  p = PutCommonFields(p, *this);
  p = Put16(p, 0);  // members carry no comment
  p = Put16(p, diskNumberStart);
  p = Put16(p, internalAttributes);
  p = Put32(p, externalAttributes);
  Put32(p, localHeaderOffset);
  return output.Put(header, sizeof header) && PutStrings(output, *this) ? kZipOk
                                                                        : kZipErrorWrite;
}

int ZIP_FileEntry::CopyData(OutputBuffer& output) const {
  if (sourceFile == nullptr) return kZipErrorSeek;
  if (!sourceFile->Seek(dataOffset)) return kZipErrorSeek;
  return CopyFileRange(*sourceFile, output, dataSize) ? kZipOk : kZipErrorWrite;
}

}  // namespace trvzip

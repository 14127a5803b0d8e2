// A member's records as written by ZIP_File::Save, and its data copy.

#include "zip/zip_file_entry.h"

#include "zip/block_reader.h"
#include "zip/output_buffer.h"
#include "zip/zip_extra.h"
#include "zip/zip_methods.h"
#include "zip/zip_result.h"

namespace trvzip {

using namespace records;

namespace {

// A header followed by the kept strings, so the stated lengths always match.
template <class Header>
int PutRecord(OutputBuffer& output, const Header& header, const ZIP_FileEntry& e,
              std::span<const uint8_t> extraField) {
  const auto bytes = Encode(header);
  const bool ok = extraField.size() == header.common.extraLength &&
                  output.Put(bytes.data(), bytes.size()) &&
                  output.Put(e.GetName(), e.GetNameLength()) &&
                  output.Put(extraField.data(), extraField.size());
  return ok ? kZipOk : kZipErrorWrite;
}

// Sizes that need ZIP64 in the local header need it in the descriptor too.
bool WideSizes(uint64_t compressed, uint64_t uncompressed) {
  return compressed >= kPlaceholder32 || uncompressed >= kPlaceholder32;
}

template <class Record>
int PutDescriptor(OutputBuffer& output, uint32_t crc, uint64_t compressed, uint64_t uncompressed) {
  Record descriptor;
  descriptor.crc32 = crc;
  descriptor.compressedSize = static_cast<decltype(descriptor.compressedSize)>(compressed);
  descriptor.uncompressedSize = static_cast<decltype(descriptor.uncompressedSize)>(uncompressed);
  const auto bytes = Encode(descriptor);
  return output.Put(bytes.data(), bytes.size()) ? kZipOk : kZipErrorWrite;
}

}  // namespace

uint64_t ZIP_FileEntry::LocalRecordSize() const {
  return LocalHeader::kSize + nameLength + extraLength + compressedSize + DescriptorSize();
}

uint64_t ZIP_FileEntry::CentralRecordSize() const {
  return CentralHeader::kSize + nameLength + centralExtraLength;
}

std::size_t ZIP_FileEntry::DescriptorSize() const {
  if (!keepsDescriptor) return 0;
  return WideSizes(compressedSize, uncompressedSize) ? Descriptor64::kSize : Descriptor::kSize;
}

std::string ZIP_FileEntry::ExtraField() const {
  if (sourceFile == nullptr) return {};
  BlockReader source(*sourceFile, storedExtraLength + std::size_t{1});
  std::vector<uint8_t> scratch;
  std::span<const uint8_t> field;
  if (!ExtraBytes(source, scratch, &field)) return {};
  return std::string(field.begin(), field.end());
}

bool ZIP_FileEntry::ExtraBytes(BlockReader& source, std::vector<uint8_t>& scratch,
                               std::span<const uint8_t>* field, bool central) const {
  *field = {};
  const bool own = central && ownCentralExtra;
  const uint16_t length = own ? centralExtraLength : extraLength;
  if (!own && (heldExtra != nullptr || extraLength == 0)) {
    *field = {heldExtra, extraLength};
    return true;
  }
  std::vector<uint8_t> stored(own ? storedCentralExtraLength : storedExtraLength);
  const uint64_t at = own ? storedCentralExtraAt : storedExtraAt;
  if (source.ReadAt(at, stored.data(), stored.size()).value_or(0) != stored.size()) {
    return false;
  }
  extra::WithoutZip64(stored, &scratch);
  // The file may have changed since it was opened: its field must still be
  // the one whose length the layout counted.
  if (scratch.size() != length) return false;
  *field = scratch;
  return true;
}

int ZIP_FileEntry::UnreadableCause() const {
  if ((flags & kFlagEncrypted) != 0) return kZipErrorEncrypted;
  return IsExtractableMethod(method) ? kZipOk : kZipErrorMethod;
}

int ZIP_FileEntry::WriteLocalHeader(OutputBuffer& output,
                                    std::span<const uint8_t> extraField) const {
  LocalHeader header;
  header.common = *this;
  if (keepsDescriptor) header.common.flags |= kFlagDescriptor;
  return PutRecord(output, header, *this, extraField);
}

int ZIP_FileEntry::WriteCentralHeader(OutputBuffer& output,
                                      std::span<const uint8_t> extraField) const {
  CentralHeader header;
  header.versionMadeBy = versionMadeBy;
  header.common = *this;
  header.common.extraLength = centralExtraLength;
  header.commentLength = 0;  // members carry no comment
  header.diskNumberStart = diskNumberStart;
  header.internalAttributes = internalAttributes;
  header.externalAttributes = externalAttributes;
  header.localHeaderOffset = localHeaderOffset;
  return PutRecord(output, header, *this, extraField);
}

int ZIP_FileEntry::CopyData(BlockReader& source, OutputBuffer& output) const {
  if (sourceFile == nullptr) return kZipErrorSeek;
  if (!source.CopyTo(dataOffset, compressedSize, output)) {
    return output.Failed() ? kZipErrorWrite : kZipErrorRead;
  }
  if (!keepsDescriptor) return kZipOk;
  return WideSizes(compressedSize, uncompressedSize)
             ? PutDescriptor<Descriptor64>(output, crc32, compressedSize, uncompressedSize)
             : PutDescriptor<Descriptor>(output, crc32, compressedSize, uncompressedSize);
}

}  // namespace trvzip

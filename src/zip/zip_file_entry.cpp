// A member's records as written by ZIP_File::Save, and its data copy.

#include "zip/zip_file_entry.h"

#include <algorithm>

#include "bytes/byte_writer.h"
#include "zip/block_reader.h"
#include "zip/output_buffer.h"
#include "zip/zip_extra.h"
#include "zip/zip_methods.h"
#include "zip/zip_result.h"

namespace trvzip {

using namespace records;

namespace {

constexpr uint16_t kZip64Version = 45;

// The ZIP64 block holding the fields named, in the order the format lists them.
std::vector<uint8_t> Zip64Block(const ZIP_FileEntry& e, Zip64Fields fields) {
  std::vector<uint8_t> block;
  if (fields.Count() == 0) return block;
  bytes::ByteWriter out(block);
  out.U16(extra::kZip64Id), out.U16(static_cast<uint16_t>(fields.BlockSize() - 4));
  if (fields.uncompressedSize) out.U64(e.uncompressedSize);
  if (fields.compressedSize) out.U64(e.compressedSize);
  if (fields.localHeaderOffset) out.U64(e.localHeaderOffset);
  return block;
}

uint32_t Narrow(uint64_t value, bool wide) {
  return wide ? kPlaceholder32 : static_cast<uint32_t>(value);
}

// The values both headers carry, with placeholders where fields go to ZIP64.
CommonFields Common(const ZIP_FileEntry& e, Zip64Fields fields, uint16_t keptExtraLength) {
  CommonFields c;
  c.versionNeeded = fields.Count() > 0 ? std::max(e.versionNeeded, kZip64Version) : e.versionNeeded;
  c.flags = e.flags, c.method = e.method, c.modTime = e.modTime, c.modDate = e.modDate;
  c.crc32 = e.crc32;
  c.compressedSize = Narrow(e.compressedSize, fields.compressedSize);
  c.uncompressedSize = Narrow(e.uncompressedSize, fields.uncompressedSize);
  c.nameLength = e.nameLength;
  c.extraLength = static_cast<uint16_t>(keptExtraLength + fields.BlockSize());
  return c;
}

// A header followed by the kept name, the ZIP64 block and the kept extra
// field, so the stated lengths always match.
template <class Header>
int PutRecord(OutputBuffer& output, const Header& header, const ZIP_FileEntry& e,
              Zip64Fields fields, std::span<const uint8_t> extraField) {
  const auto bytes = Encode(header);
  const auto block = Zip64Block(e, fields);
  const bool ok = extraField.size() + block.size() == header.common.extraLength &&
                  output.Put(bytes.data(), bytes.size()) &&
                  output.Put(e.GetName(), e.GetNameLength()) &&
                  output.Put(block.data(), block.size()) &&
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

Zip64Fields ZIP_FileEntry::LocalZip64() const {
  const bool sizes = uncompressedSize >= kPlaceholder32 || compressedSize >= kPlaceholder32;
  return {sizes, sizes, false};
}

Zip64Fields ZIP_FileEntry::CentralZip64() const {
  return {uncompressedSize >= kPlaceholder32, compressedSize >= kPlaceholder32,
          localHeaderOffset >= kPlaceholder32};
}

uint64_t ZIP_FileEntry::LocalRecordSize() const {
  return LocalHeader::kSize + nameLength + extraLength + LocalZip64().BlockSize() +
         compressedSize + DescriptorSize();
}

uint64_t ZIP_FileEntry::CentralRecordSize() const {
  return CentralHeader::kSize + nameLength + centralExtraLength + CentralZip64().BlockSize();
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
  const Zip64Fields fields = LocalZip64();
  LocalHeader header;
  header.common = Common(*this, fields, extraLength);
  if (keepsDescriptor) header.common.flags |= kFlagDescriptor;
  return PutRecord(output, header, *this, fields, extraField);
}

int ZIP_FileEntry::WriteCentralHeader(OutputBuffer& output,
                                      std::span<const uint8_t> extraField) const {
  const Zip64Fields fields = CentralZip64();
  CentralHeader header;
  header.versionMadeBy = versionMadeBy;
  header.common = Common(*this, fields, centralExtraLength);
  header.commentLength = 0;  // members carry no comment
  header.diskNumberStart = diskNumberStart;
  header.internalAttributes = internalAttributes;
  header.externalAttributes = externalAttributes;
  header.localHeaderOffset = Narrow(localHeaderOffset, fields.localHeaderOffset);
  return PutRecord(output, header, *this, fields, extraField);
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

#include "pe/image_file.h"

#include <algorithm>
#include <utility>

#include "bytes/byte_reader.h"
#include "bytes/byte_writer.h"
#include "pe/pe_errors.h"

namespace pe {
namespace {

// Images are addressed with 32-bit offsets; anything larger cannot be one.
constexpr uint64_t kMaxImageFile = uint64_t{1} << 31;
// Enough for the headers of any image seen in practice; more is read when
// they say they are larger.
constexpr uint64_t kHeaderProbe = uint64_t{64} << 10;

// Where the held part of an image ends: its headers, every section's raw
// data and what the loader takes from the file past it.
uint64_t HeldEnd(const PeImage& image, uint64_t fileSize) { return image.ExtentEnd(fileSize); }

// What a rebuild may add to an image: its resource section once more (a new
// section holds all of it), a version block and the headers' growth.
uint64_t RebuildRoom(const PeImage& image) {
  constexpr uint64_t kBlockAndAlignment = uint64_t{256} << 10;
  const int index = image.SectionOfRva(image.Directory(kDirectoryResource).rva);
  const uint64_t resources =
      index >= 0 ? image.FileBackedSize(image.sections[static_cast<std::size_t>(index)]) : 0;
  const uint64_t headers = image.sections.empty() ? 0 : image.sections.front().virtualAddress;
  return std::min(resources + headers + kBlockAndAlignment, kMaxImageFile);
}

// How many bytes the headers take, as far as the first bytes tell.
uint64_t HeadersNeeded(std::span<const uint8_t> prefix) {
  constexpr uint64_t kDosHeader = 0x40;
  constexpr uint64_t kFileHeaderEnd = 4 + 20;
  if (prefix.size() < kDosHeader) return kDosHeader;
  const uint32_t newHeader = bytes::ByteReader(prefix, 0x3C).U32();
  bytes::ByteReader in(prefix, newHeader);
  if (!in.Has(kFileHeaderEnd)) return newHeader + kFileHeaderEnd;
  in.Skip(4 + 2);
  const uint16_t sections = in.U16();
  in.Skip(4 + 4 + 4);
  const uint16_t optionalSize = in.U16();
  return newHeader + kFileHeaderEnd + optionalSize + uint64_t{sections} * kSectionHeaderSize;
}

}  // namespace

ImageFile::ImageFile(platform::FileHandle& file, std::vector<uint8_t> bytes)
    : source_(&file), file_(&file), bytes_(std::move(bytes)) {
  Parse();
  SplitHeld();
}

void ImageFile::Parse() { headers_ = PeImage::Parse(bytes_, nullptr); }

void ImageFile::SplitHeld() {
  if (!headers_) return;
  const auto end = static_cast<std::size_t>(HeldEnd(*headers_, bytes_.size()));
  if (end == bytes_.size()) return;
  auto rest = std::make_shared<const std::vector<uint8_t>>(
      bytes_.begin() + static_cast<std::ptrdiff_t>(end), bytes_.end());
  overlay_.push_back({0, rest->size(), std::move(rest)});
  bytes_.resize(end);
}

std::optional<ImageFile> ImageFile::Read(std::unique_ptr<platform::FileHandle> source,
                                         platform::FileHandle& target, uint32_t* error) {
  const auto size = source->Size();
  if (!size) return Fail(error, platform::kErrorReadFault);
  ImageFile image;
  image.owned_ = std::move(source);
  image.source_ = image.owned_.get();
  image.file_ = &target;
  // The headers first, then what they say the image holds: a large header
  // offset takes a read for the file header, one for the tables and one for
  // the sections.
  uint64_t want = std::min(*size, kHeaderProbe);
  for (int pass = 0; pass < 4 && want > image.bytes_.size(); ++pass) {
    if (want > kMaxImageFile) return Fail(error, platform::kErrorNotEnoughMemory);
    const std::size_t have = image.bytes_.size();
    image.bytes_.resize(static_cast<std::size_t>(want));
    const std::size_t missing = image.bytes_.size() - have;
    const auto got = image.source_->ReadAt(have, image.bytes_.data() + have, missing);
    if (!got || *got != missing) return Fail(error, platform::kErrorReadFault);
    image.Parse();
    want = std::min(*size, image.headers_ ? HeldEnd(*image.headers_, *size)
                                          : HeadersNeeded(image.bytes_));
    // A rebuild grows the image in place: room for it now spares a second
    // copy then (pages never touched cost nothing).
    if (image.headers_ && want > image.bytes_.size()) {
      image.bytes_.reserve(static_cast<std::size_t>(want + RebuildRoom(*image.headers_)));
    }
  }
  // The probe may have read past the image: that part stays in the file.
  if (image.headers_) {
    image.bytes_.resize(static_cast<std::size_t>(std::min<uint64_t>(
        image.bytes_.size(), HeldEnd(*image.headers_, *size))));
  }
  if (image.bytes_.size() < *size) {
    image.overlay_.push_back({image.bytes_.size(), *size - image.bytes_.size(), nullptr});
  }
  return image;
}

std::optional<ImageFile> ImageFile::Open(const std::string& path, bool writable,
                                         uint32_t* error) {
  auto file = std::make_unique<platform::FileHandle>();
  if (!file->Open(path, writable ? platform::Access::ReadWrite : platform::Access::Read,
                  writable ? platform::Share::None : platform::Share::Read,
                  platform::Disposition::OpenExisting)) {
    return Fail(error, file->LastError());
  }
  platform::FileHandle& handle = *file;
  if (!writable) return Read(std::move(file), handle, error);
  const auto size = file->Size();
  if (!size) return Fail(error, platform::kErrorReadFault);
  if (*size > kMaxImageFile) return Fail(error, platform::kErrorNotEnoughMemory);
  std::vector<uint8_t> bytes(static_cast<std::size_t>(*size));
  const auto got = file->ReadAt(0, bytes.data(), bytes.size());
  if (!got || *got != bytes.size()) return Fail(error, platform::kErrorReadFault);
  ImageFile image(handle, std::move(bytes));
  image.owned_ = std::move(file);
  return image;
}

const PeImage* ImageFile::Headers(uint32_t* error) const {
  if (!headers_) SetError(error, platform::kErrorBadExeFormat);
  return headers_ ? &*headers_ : nullptr;
}

uint64_t ImageFile::FileSize() const {
  uint64_t size = bytes_.size();
  for (const Piece& p : overlay_) size += p.length;
  return size;
}

// The ranges, of the file as it stands, as pieces of the source or of
// memory; what lies in the held bytes is copied, as they are to be replaced.
std::vector<ImageFile::Piece> ImageFile::PiecesOf(const std::vector<FileRange>& ranges) const {
  std::vector<Piece> pieces;
  for (const FileRange& r : ranges) {
    uint64_t start = r.offset;
    const uint64_t end = std::min(r.offset + r.length, FileSize());
    if (start < bytes_.size() && start < end) {
      const auto stop = static_cast<std::ptrdiff_t>(std::min<uint64_t>(end, bytes_.size()));
      auto copy = std::make_shared<const std::vector<uint8_t>>(
          bytes_.begin() + static_cast<std::ptrdiff_t>(start), bytes_.begin() + stop);
      pieces.push_back({0, copy->size(), std::move(copy)});
      start = static_cast<uint64_t>(stop);
    }
    uint64_t at = bytes_.size();
    for (const Piece& p : overlay_) {
      const uint64_t from = std::max(start, at);
      const uint64_t to = std::min(end, at + p.length);
      if (from < to) pieces.push_back({p.offset + (from - at), to - from, p.held});
      at += p.length;
    }
  }
  return pieces;
}

uint32_t ImageFile::WriteError() const {
  return file_->LastError() != 0 ? file_->LastError() : platform::kErrorWriteFault;
}

uint32_t ImageFile::WriteFile(std::span<const uint8_t> image, const std::vector<Piece>& pieces,
                              std::optional<uint32_t> checksumField,
                              std::optional<PeChecksum>& checksum) {
  checksum.reset();
  if (checksumField) checksum.emplace(*checksumField);
  if (!file_->WriteAt(0, image.data(), image.size())) return WriteError();
  if (checksum) checksum->Add(image);
  uint64_t at = image.size();
  std::vector<uint8_t> buffer;
  for (const Piece& p : pieces) {
    for (uint64_t done = 0; done < p.length;) {
      std::span<const uint8_t> part;
      if (p.held) {
        part = std::span<const uint8_t>(*p.held).subspan(static_cast<std::size_t>(p.offset),
                                                         static_cast<std::size_t>(p.length));
      } else {
        buffer.resize(platform::kLargeWrite);
        const auto n = static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), p.length - done));
        const auto got = source_->ReadAt(p.offset + done, buffer.data(), n);
        if (!got || *got != n) return platform::kErrorReadFault;
        part = std::span<const uint8_t>(buffer).first(n);
      }
      if (!file_->WriteAt(at, part.data(), part.size())) return WriteError();
      if (checksum) checksum->Add(part);
      at += part.size();
      done += part.size();
    }
  }
  return file_->Truncate(at) ? platform::kErrorSuccess : WriteError();
}

std::optional<uint32_t> ImageFile::ChecksumField() const {
  if (!headers_ || headers_->checkSum == 0) return std::nullopt;
  return headers_->at.checkSum;
}

bool ImageFile::Write(uint32_t* error) {
  const uint32_t code = WriteFile(bytes_, overlay_, ChecksumField(), checksum_);
  SetError(error, code);
  return code == platform::kErrorSuccess;
}

bool ImageFile::ReadAgain(std::size_t size) {
  if (!sourceHolds_) return false;
  bytes_.resize(size);
  const auto got = source_->ReadAt(0, bytes_.data(), size);
  Parse();
  return got && *got == size && headers_;
}

bool ImageFile::Rewrite(const std::function<uint32_t(std::vector<uint8_t>&)>& rebuild,
                        const std::vector<FileRange>& overlay,
                        std::optional<uint32_t> checksumField, uint32_t* error) {
  std::vector<Piece> pieces = PiecesOf(overlay);
  const std::size_t oldSize = bytes_.size();
  uint32_t code = rebuild(bytes_);
  bool written = false;
  std::optional<PeChecksum> checksum;
  if (code == platform::kErrorSuccess) {
    written = true;
    code = WriteFile(bytes_, pieces, checksumField, checksum);
  }
  if (code == platform::kErrorSuccess && checksumField &&
      uint64_t{*checksumField} + 4 <= bytes_.size()) {
    bytes::StoreU32<0>(std::span<uint8_t>(bytes_).subspan(*checksumField).first<4>(),
                       checksum->Value());
    if (!file_->WriteAt(*checksumField, bytes_.data() + *checksumField, 4)) code = WriteError();
  }
  if (code == platform::kErrorSuccess) {
    overlay_ = std::move(pieces);
    checksum_ = std::move(checksum);
    sourceHolds_ = source_ == file_;
    Parse();
    return true;
  }
  SetError(error, code);
  // The old image is gone from memory: it is read again from its source, and
  // the file, if it was written, brought back from it.
  const bool restored = ReadAgain(oldSize) &&
                        (!written || (source_ != file_ &&
                                      WriteFile(bytes_, overlay_, ChecksumField(), checksum_) ==
                                          platform::kErrorSuccess));
  if (!restored) {
    damaged_ = true;
    if (written) file_->Truncate(0);
  }
  return false;
}

}  // namespace pe

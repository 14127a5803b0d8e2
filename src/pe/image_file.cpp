#include "pe/image_file.h"

#include <utility>

#include "pe/pe_errors.h"

namespace pe {
namespace {

// Images are addressed with 32-bit offsets; anything larger cannot be one
// (an overlay may add to it, but not gigabytes).
constexpr uint64_t kMaxImageFile = uint64_t{1} << 31;

}  // namespace

ImageFile::ImageFile(platform::FileHandle& file, std::vector<uint8_t> bytes)
    : file_(&file), bytes_(std::move(bytes)), headers_(PeImage::Parse(bytes_, nullptr)) {}

std::optional<std::vector<uint8_t>> ImageFile::ReadWhole(platform::FileHandle& file,
                                                         uint32_t* error) {
  const auto size = file.Size();
  if (!size) return Fail(error, platform::kErrorReadFault);
  if (*size > kMaxImageFile) return Fail(error, platform::kErrorNotEnoughMemory);
  std::vector<uint8_t> bytes(static_cast<std::size_t>(*size));
  const auto got = file.ReadAt(0, bytes.data(), bytes.size());
  if (!got || *got != bytes.size()) return Fail(error, platform::kErrorReadFault);
  return bytes;
}

std::optional<ImageFile> ImageFile::Open(const std::string& path, bool writable,
                                         uint32_t* error) {
  auto file = std::make_unique<platform::FileHandle>();
  if (!file->Open(path, writable ? platform::Access::ReadWrite : platform::Access::Read,
                  writable ? platform::Share::None : platform::Share::Read,
                  platform::Disposition::OpenExisting)) {
    return Fail(error, file->LastError());
  }
  auto bytes = ReadWhole(*file, error);
  if (!bytes) return std::nullopt;
  ImageFile image(*file, std::move(*bytes));
  image.owned_ = std::move(file);
  return image;
}

const PeImage* ImageFile::Headers(uint32_t* error) const {
  if (!headers_) SetError(error, platform::kErrorBadExeFormat);
  return headers_ ? &*headers_ : nullptr;
}

bool ImageFile::WriteAll(std::span<const uint8_t> bytes) {
  return file_->WriteAt(0, bytes.data(), bytes.size()) && file_->Truncate(bytes.size());
}

bool ImageFile::Replace(std::vector<uint8_t> bytes, uint32_t* error) {
  if (WriteAll(bytes)) {
    bytes_ = std::move(bytes);
    headers_ = PeImage::Parse(bytes_, nullptr);
    return true;
  }
  SetError(error, file_->LastError() != 0 ? file_->LastError() : platform::kErrorWriteFault);
  if (!WriteAll(bytes_)) {
    damaged_ = true;
    file_->Truncate(0);
  }
  return false;
}

}  // namespace pe

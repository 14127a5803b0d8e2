#include "pe/image_file.h"

#include <filesystem>
#include <system_error>

#include "pe/pe_errors.h"
#include "platform/file_handle.h"

namespace pe {
namespace {

// Images are addressed with 32-bit offsets; anything larger cannot be one
// (an overlay may add to it, but not gigabytes).
constexpr uint64_t kMaxImageFile = uint64_t{1} << 31;

namespace fs = std::filesystem;

// A name beside target that does not exist yet.
std::optional<std::string> TemporaryName(const std::string& target) {
  for (int i = 0; i < 100; ++i) {
    std::string name = target + ".rsrc" + std::to_string(i) + ".tmp";
    std::error_code ec;
    if (fs::symlink_status(name, ec).type() == fs::file_type::not_found) return name;
  }
  return std::nullopt;
}

bool WriteTemporary(const std::string& name, std::span<const uint8_t> bytes, uint32_t* error) {
  platform::FileHandle out;
  if (!out.Open(name, platform::Access::Write, platform::Share::None,
                platform::Disposition::CreateAlways)) {
    SetError(error, out.LastError());
    return false;
  }
  if (!out.Write(bytes.data(), bytes.size())) {
    SetError(error, out.LastError() != 0 ? out.LastError() : platform::kErrorWriteFault);
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadImageFile(const std::string& path, uint32_t* error) {
  platform::FileHandle in;
  if (!in.Open(path, platform::Access::Read, platform::Share::Read,
               platform::Disposition::OpenExisting)) {
    SetError(error, in.LastError());
    return std::nullopt;
  }
  const auto size = in.Size();
  if (!size) {
    SetError(error, platform::kErrorReadFault);
    return std::nullopt;
  }
  if (*size > kMaxImageFile) {
    SetError(error, platform::kErrorNotEnoughMemory);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(static_cast<std::size_t>(*size));
  const auto got = in.Read(bytes.data(), bytes.size());
  if (!got || *got != bytes.size()) {
    SetError(error, platform::kErrorReadFault);
    return std::nullopt;
  }
  return bytes;
}

bool ReplaceImageFile(const std::string& path, std::span<const uint8_t> bytes, uint32_t* error) {
  std::error_code ec;
  // Replace what a link points at, not the link.
  const fs::path target = fs::is_symlink(path, ec) ? fs::canonical(path, ec) : fs::path(path);
  if (ec) {
    SetError(error, platform::kErrorFileNotFound);
    return false;
  }
  // Holding the file for writing checks that it may be written and keeps
  // other handles off it until it has been replaced.
  platform::FileHandle guard;
  if (!guard.Open(target.string(), platform::Access::Write, platform::Share::None,
                  platform::Disposition::OpenExisting)) {
    SetError(error, guard.LastError());
    return false;
  }
  const auto temporary = TemporaryName(target.string());
  if (!temporary) {
    SetError(error, platform::kErrorAccessDenied);
    return false;
  }
  if (!WriteTemporary(*temporary, bytes, error)) {
    fs::remove(*temporary, ec);
    return false;
  }
  const fs::perms mode = fs::status(target, ec).permissions();
  if (!ec) fs::permissions(*temporary, mode, ec);
  if (!ec) fs::rename(*temporary, target, ec);
  if (ec) {
    SetError(error, platform::kErrorAccessDenied);
    fs::remove(*temporary, ec);
    return false;
  }
  return true;
}

}  // namespace pe

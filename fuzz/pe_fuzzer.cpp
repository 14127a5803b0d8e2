// The image and version-resource code as the tool drives it on a stub: the
// input is an image file, opened for reading and writing; its version
// information is read and queried, its checksum summed, and its version
// resource rewritten the way a package's is. A rewrite that reports success
// must read back with the package's strings.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "pe/image_file.h"
#include "pe/pe_checksum.h"
#include "pe/version_resource.h"
#include "platform/file_handle.h"
#include "verinfo/version_block.h"
#include "verinfo/version_strings.h"
#include "verinfo/version_update.h"

namespace {

using Block = std::span<const uint8_t>;

constexpr const char16_t* kStringKeys[] = {
    u"ProductName",  u"ProductVersion",   u"FileDescription", u"FileVersion",
    u"CompanyName",  u"OriginalFileName", u"InternalName",    u"LegalCopyright",
    u"LegalTrademarks", u"Comments",      u"PrivateBuild",
};

bool Inside(Block block, const void* value, std::size_t length) {
  const auto* at = static_cast<const uint8_t*>(value);
  return at >= block.data() && at <= block.data() + block.size() &&
         length <= static_cast<std::size_t>(block.data() + block.size() - at);
}

// A text a query hands out ends with a NUL inside the block (or is the
// query's own empty text), and its length fits the room before that NUL's node.
void CheckText(Block block, const void* value, uint32_t length) {
  if (length == 0 && !Inside(block, value, 0)) return;
  FUZZ_CHECK(Inside(block, value, std::size_t{length} * 2));
  const auto* at = static_cast<const uint8_t*>(value);
  bool terminated = false;
  for (; !terminated && at + 1 < block.data() + block.size(); at += 2) {
    terminated = at[0] == 0 && at[1] == 0;
  }
  FUZZ_CHECK(terminated);
}

void QueryAll(Block block) {
  const void* value = nullptr;
  uint32_t length = 0;
  if (VerQueryValue(block, u"\\", &value, &length)) {
    FUZZ_CHECK(length >= kFixedRecordSize && Inside(block, value, length));
  }
  for (const char16_t* key : kStringKeys) {
    if (VerQueryValue(block, std::u16string(u"\\StringFileInfo\\040904b0\\") + key, &value,
                      &length)) {
      CheckText(block, value, length);
    }
  }
  if (VerQueryValue(block, u"\\VarFileInfo\\Translation", &value, &length)) {
    FUZZ_CHECK(Inside(block, value, length));
  }
}

// Summed in two pieces as a build does (image, then what follows), the
// checksum equals the one over the whole.
void CheckChecksum(const pe::ImageFile& image) {
  const pe::PeImage* headers = image.Headers(nullptr);
  if (headers == nullptr) return;
  const Block bytes = image.Bytes();
  pe::PeChecksum pieces(headers->at.checkSum);
  const std::size_t split = bytes.size() / 3;
  pieces.Add(bytes.first(split));
  pieces.Add(bytes.subspan(split));
  FUZZ_CHECK(pieces.Value() == pe::ComputeChecksum(bytes, headers->at.checkSum));
}

void CheckRewritten(const pe::ImageFile& image, const std::string& path) {
  FUZZ_CHECK(!image.Damaged());
  const std::vector<uint8_t> onDisk = fuzzsupport::ReadWholeFile(path);
  FUZZ_CHECK(onDisk.size() == image.FileSize() && onDisk.size() >= image.Bytes().size() &&
             std::equal(image.Bytes().begin(), image.Bytes().end(), onDisk.begin()));
  const pe::PeImage* headers = image.Headers(nullptr);
  FUZZ_CHECK(headers != nullptr);
  if (headers->checkSum != 0) {
    const auto at = headers->at.checkSum;
    const uint32_t stored = onDisk[at] | onDisk[at + 1] << 8 | onDisk[at + 2] << 16 |
                            static_cast<uint32_t>(onDisk[at + 3]) << 24;
    FUZZ_CHECK(stored == pe::ComputeChecksum(onDisk, at));
  }
  std::array<uint8_t, kFixedRecordSize> fixed{};
  VersionStringMap map;
  FUZZ_CHECK(ReadVersionStrings(image, fixed, map));
  // An absent string reads as empty here, which fails the check as well.
  FUZZ_CHECK(map[u"ProductName"] == u"Fuzz Package");
  FUZZ_CHECK(map[u"FileVersion"] == u"1.2.3.4");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string path = fuzzsupport::ScratchFile("image.exe");
  fuzzsupport::WriteWholeFile(path, {data, size});
  platform::FileHandle file;
  FUZZ_CHECK(file.Open(path, platform::Access::ReadWrite, platform::Share::None,
                       platform::Disposition::OpenExisting));
  pe::ImageFile image(file, std::vector<uint8_t>(data, data + size));
  CheckChecksum(image);

  std::vector<uint8_t> info;
  uint32_t error = 0;
  if (pe::GetFileVersionInfo(image, info, &error)) QueryAll(info);
  std::array<uint8_t, kFixedRecordSize> fixed{};
  VersionStringMap map;
  ReadVersionStrings(image, fixed, map);

  // Now and then a name too long for a version block, which must be refused.
  const std::u16string name = size % 16 == 15 ? std::u16string(40000, u'N') : u"Fuzz";
  if (!UpdateVersionResourceWith(image, name.c_str(), u"1.2.3.4", u"pass")) {
    FUZZ_CHECK(name == u"Fuzz");
    CheckRewritten(image, path);
  } else {
    // A refused update leaves the file as it was.
    FUZZ_CHECK(fuzzsupport::ReadWholeFile(path) == std::vector<uint8_t>(data, data + size));
  }
  return 0;
}

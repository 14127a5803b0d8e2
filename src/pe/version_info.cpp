#include "pe/version_info.h"

#include "pe/image_file.h"
#include "pe/pe_errors.h"
#include "pe/pe_image.h"
#include "pe/resource_tree.h"

namespace pe {
namespace {

constexpr uint16_t kVersionType = 16;
constexpr uint16_t kVersionName = 1;
constexpr uint16_t kEnglishUs = 1033;

// The version resource's bytes: type 16, name 1, language neutral first,
// then U.S. English, then the first language present.
std::optional<std::vector<uint8_t>> LoadVersionResource(const std::string& path,
                                                        uint32_t* error) {
  const auto file = ReadImageFile(path, error);
  if (!file) return std::nullopt;
  const auto image = PeImage::Parse(*file, error);
  if (!image) return std::nullopt;
  if (!HasResourceDirectory(*image)) {
    SetError(error, kErrorResourceDataNotFound);
    return std::nullopt;
  }
  const auto leaves = ReadResources(*image, *file, error);
  if (!leaves) return std::nullopt;
  const ResourceLeaf* chosen = nullptr;
  bool typeFound = false;
  for (const ResourceLeaf& leaf : *leaves) {
    if (!SameName(leaf.type, ResourceName::Id(kVersionType))) continue;
    typeFound = true;
    if (!SameName(leaf.name, ResourceName::Id(kVersionName))) continue;
    const auto rank = [](const ResourceLeaf* l) {
      return l->language == 0 ? 0 : l->language == kEnglishUs ? 1 : 2;
    };
    if (chosen == nullptr || rank(&leaf) < rank(chosen)) chosen = &leaf;
  }
  if (chosen == nullptr) {
    SetError(error, typeFound ? kErrorResourceNameNotFound : kErrorResourceTypeNotFound);
    return std::nullopt;
  }
  if (chosen->data.empty()) {
    SetError(error, platform::kErrorInvalidData);
    return std::nullopt;
  }
  SetError(error, platform::kErrorSuccess);
  return std::vector<uint8_t>(chosen->data.begin(), chosen->data.end());
}

}  // namespace

uint32_t GetFileVersionInfoSize(const std::string& path, uint32_t* error) {
  const auto bytes = LoadVersionResource(path, error);
  return bytes ? static_cast<uint32_t>(bytes->size()) : 0;
}

bool GetFileVersionInfo(const std::string& path, std::vector<uint8_t>& buffer, uint32_t* error) {
  auto bytes = LoadVersionResource(path, error);
  if (!bytes) return false;
  buffer = std::move(*bytes);
  return true;
}

}  // namespace pe

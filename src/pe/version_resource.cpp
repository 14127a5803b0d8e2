#include "pe/version_resource.h"

#include "pe/pe_errors.h"
#include "pe/resource_tree.h"

namespace pe {
namespace {

int Rank(const ResourceLeaf& leaf) {
  return leaf.language == kLanguageNeutral ? 0 : leaf.language == kLanguageUsEnglish ? 1 : 2;
}

}  // namespace

const ResourceLeaf* FindVersionLeaf(const std::vector<ResourceLeaf>& leaves, bool* typeFound) {
  const ResourceLeaf* chosen = nullptr;
  if (typeFound != nullptr) *typeFound = false;
  for (const ResourceLeaf& leaf : leaves) {
    if (!SameName(leaf.type, ResourceName::Id(kVersionResourceType))) continue;
    if (typeFound != nullptr) *typeFound = true;
    if (!SameName(leaf.name, ResourceName::Id(kVersionResourceName))) continue;
    if (chosen == nullptr || Rank(leaf) < Rank(*chosen)) chosen = &leaf;
  }
  return chosen;
}

bool GetFileVersionInfo(const ImageFile& image, std::vector<uint8_t>& buffer, uint32_t* error) {
  const PeImage* headers = image.Headers(error);
  if (headers == nullptr) return false;
  if (!HasResourceDirectory(*headers)) {
    SetError(error, kErrorResourceDataNotFound);
    return false;
  }
  const auto leaves = ReadResources(*headers, image.Bytes(), error);
  if (!leaves) return false;
  bool typeFound = false;
  const ResourceLeaf* chosen = FindVersionLeaf(*leaves, &typeFound);
  if (chosen == nullptr) {
    SetError(error, typeFound ? kErrorResourceNameNotFound : kErrorResourceTypeNotFound);
    return false;
  }
  if (chosen->data.empty()) {
    SetError(error, platform::kErrorInvalidData);
    return false;
  }
  SetError(error, platform::kErrorSuccess);
  buffer.assign(chosen->data.begin(), chosen->data.end());
  return true;
}

}  // namespace pe

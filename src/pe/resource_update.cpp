#include "pe/resource_update.h"

#include <algorithm>
#include <deque>

#include "pe/image_file.h"
#include "pe/image_rebuild.h"
#include "pe/pe_errors.h"
#include "pe/pe_image.h"
#include "pe/resource_tree.h"
#include "platform/console.h"

namespace pe {

// The image being updated and its resources with the updates applied; leaf
// data points into the image's bytes or into `store`.
struct PendingUpdate {
  ImageFile* file = nullptr;
  std::vector<ResourceLeaf> leaves;
  std::deque<std::vector<uint8_t>> store;
};

namespace {

bool ValidName(const ResourceName& n) {
  return n.name.empty() ? n.id != 0 : n.name.size() <= 0xFFFF;
}

}  // namespace

ResourceName ResourceName::Id(uint16_t id) { return ResourceName{id, {}}; }
ResourceName ResourceName::Named(std::u16string name) { return ResourceName{0, std::move(name)}; }

ResourceUpdate::ResourceUpdate() = default;
ResourceUpdate::~ResourceUpdate() = default;

bool ResourceUpdate::Begin(ImageFile& image, bool deleteExisting) {
  pending_.reset();
  lastError_ = platform::kErrorSuccess;
  lastCause_.clear();
  const PeImage* headers = image.Headers(&lastError_);
  if (headers == nullptr) return false;
  auto update = std::make_unique<PendingUpdate>();
  update->file = &image;
  auto leaves = ReadResources(*headers, image.Bytes(), &lastError_);
  if (!leaves) return false;
  if (!deleteExisting) update->leaves = std::move(*leaves);
  pending_ = std::move(update);
  return true;
}

bool ResourceUpdate::Update(const ResourceName& type, const ResourceName& name, uint16_t language,
                            std::span<const uint8_t> data) {
  if (!pending_) {
    // After a failed Begin its cause is the more useful code to report.
    if (lastError_ == platform::kErrorSuccess) lastError_ = kErrorInvalidHandle;
    return false;
  }
  if (!ValidName(type) || !ValidName(name) || data.size() > 0x7FFFFFFF) {
    lastError_ = platform::kErrorInvalidParameter;
    return false;
  }
  std::vector<ResourceLeaf>& leaves = pending_->leaves;
  const auto existing = std::find_if(leaves.begin(), leaves.end(), [&](const ResourceLeaf& l) {
    return SameName(l.type, type) && SameName(l.name, name) && l.language == language;
  });
  if (data.empty()) {
    if (existing != leaves.end()) leaves.erase(existing);
  } else {
    const std::vector<uint8_t>& copy = pending_->store.emplace_back(data.begin(), data.end());
    if (existing != leaves.end()) {
      existing->data = copy;  // the code page of the replaced resource stays
    } else {
      leaves.push_back(ResourceLeaf{type, name, language, 0, copy});
    }
  }
  lastError_ = platform::kErrorSuccess;
  return true;
}

std::vector<uint16_t> ResourceUpdate::Languages(const ResourceName& type,
                                                const ResourceName& name) const {
  std::vector<uint16_t> languages;
  if (!pending_) return languages;
  for (const ResourceLeaf& l : pending_->leaves) {
    if (SameName(l.type, type) && SameName(l.name, name)) languages.push_back(l.language);
  }
  std::sort(languages.begin(), languages.end());
  return languages;
}

bool ResourceUpdate::End(bool discard) {
  std::unique_ptr<PendingUpdate> update = std::move(pending_);
  if (discard) {
    lastError_ = platform::kErrorSuccess;
    return true;
  }
  if (!update) {
    lastError_ = kErrorInvalidHandle;
    return false;
  }
  ImageFile& image = *update->file;
  const uint64_t fileSize = image.FileSize();
  auto plan = PlanRebuild(image.Bytes(), fileSize, *image.Headers(nullptr), update->leaves,
                          &lastCause_, &lastError_);
  if (!plan) return false;
  // The leaves point into the old bytes; they go before those are rewritten.
  update.reset();
  const auto rebuild = [&](std::vector<uint8_t>& bytes) -> uint32_t {
    const uint32_t code = ApplyRebuild(bytes, *plan, &lastCause_);
    if (code != platform::kErrorSuccess) return code;
    // Read back before anything is written: what the loader and Windows'
    // readers will find must be what was planned.
    const auto findings = CheckRebuiltImage(bytes, bytes.size(), plan->expected);
    if (findings.empty()) return platform::kErrorSuccess;
    lastCause_ =
        platform::FormatText("the rebuilt image does not read back: %s", {findings.front().what});
    return platform::kErrorInvalidData;
  };
  if (!image.Rewrite(rebuild, plan->overlay, plan->checksumField, &lastError_)) return false;
  lastError_ = platform::kErrorSuccess;
  return true;
}

uint32_t ResourceUpdate::LastError() const { return lastError_; }

const std::string& ResourceUpdate::LastCause() const { return lastCause_; }

}  // namespace pe

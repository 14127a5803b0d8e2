#include "pe/resource_update.h"

namespace pe {

struct PendingUpdate {};

ResourceName ResourceName::Id(uint16_t id) { return ResourceName{id, {}}; }
ResourceName ResourceName::Named(std::u16string name) { return ResourceName{0, std::move(name)}; }

ResourceUpdate::ResourceUpdate() = default;
ResourceUpdate::~ResourceUpdate() = default;
bool ResourceUpdate::Begin(const std::string&, bool) { lastError_ = 120; return false; }
bool ResourceUpdate::Update(const ResourceName&, const ResourceName&, uint16_t,
                            std::span<const uint8_t>) { lastError_ = 120; return false; }
std::vector<uint16_t> ResourceUpdate::Languages(const ResourceName&, const ResourceName&) const {
  return {};
}
bool ResourceUpdate::End(bool discard) { return discard; }
uint32_t ResourceUpdate::LastError() const { return lastError_; }

}  // namespace pe

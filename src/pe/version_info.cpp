#include "pe/version_info.h"

namespace pe {

uint32_t GetFileVersionInfoSize(const std::string&, uint32_t* error) {
  if (error) *error = 1812;
  return 0;
}

bool GetFileVersionInfo(const std::string&, std::vector<uint8_t>& buffer, uint32_t* error) {
  buffer.clear();
  if (error) *error = 1812;
  return false;
}

bool VerQueryValue(std::span<const uint8_t>, std::u16string_view, const void**, uint32_t*) {
  return false;
}

}  // namespace pe

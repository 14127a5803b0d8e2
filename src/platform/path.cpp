#include "platform/path.h"

namespace platform {

std::string_view FileNameComponent(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') path.remove_prefix(2);
  const auto slash = path.find_last_of("\\/");
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  const auto dot = path.find_last_of('.');
  if (dot != std::string_view::npos) path = path.substr(0, dot);
  return path;
}

}  // namespace platform

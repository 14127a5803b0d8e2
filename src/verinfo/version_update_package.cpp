#include "package/tv_pkg.h"
#include "verinfo/version_update.h"

bool UpdateVersionResource(const std::string& outputPath, const TVPkg& package,
                           const char16_t* passString) {
  return UpdateVersionResourceWith(outputPath, package.GetName(), package.GetVersion(), passString);
}

#include "package/tv_pkg.h"
#include "verinfo/version_update.h"

bool UpdateVersionResource(pe::ImageFile& image, const std::string& outputPath,
                           const TVPkg& package, const char16_t* passString) {
  return UpdateVersionResourceWith(image, outputPath, package.GetName(), package.GetVersion(),
                                   passString);
}

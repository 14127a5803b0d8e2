#pragma once
// What a package's data document ("tv_data.xml") says about its configuration.

#include <cstdint>
#include <string>

struct PackageConfiguration {
  // Configuration user-interface file in the current language (or English).
  std::u16string configUiFile;
  // Archive member loaded as the configuration file.
  std::u16string configFile;
  uint8_t required = 0;             // 1 when the configuration is marked required
  uint8_t encrypt = 0;              // 1 when the configuration file is stored protected
  uint8_t allowVirtualization = 0;  // 1 when virtualization is allowed
};

#pragma once
// Archives and documents for the package tests.

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace packagetest {

struct Member {
  std::string name;
  std::string content;
};

// Writes dir/archiveName with the members (stored, or deflated with method 8)
// and returns its path.
std::string MakeArchive(const testsupport::TempDir& dir, const std::string& archiveName,
                        const std::vector<Member>& members, uint16_t method = 0);

// A package definition: the file name, then body inside trv_package.
std::string Definition(const std::string& fileName, const std::string& body);
// File name SETUP42.exe, names "en" and "de", version 1.2.3.4.
std::string StandardDefinition();

}  // namespace packagetest

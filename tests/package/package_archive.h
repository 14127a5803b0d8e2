#pragma once
// Archives and documents for the package tests.

#include <string>
#include <vector>

#include "test_support.h"

namespace packagetest {

struct Member {
  std::string name;
  std::string content;
};

// Writes dir/archiveName with the members (stored; options may add
// "--deflate" or "--declare NAME=SIZE") and returns its path.
std::string MakeArchive(const testsupport::TempDir& dir, const std::string& archiveName,
                        const std::vector<Member>& members, const std::string& options = "");

// A package definition; body goes inside trv_package after the filename.
std::string Definition(const std::string& fileName, const std::string& body);

// The usual definition: file name SETUP42.exe, names en and de, version 1.2.3.4.
std::string StandardDefinition();

// Returns dir/exeName: prefix bytes followed by the archive at archivePath,
// rewritten with its offsets counted from the start of the executable.
std::string MakeExecutable(const testsupport::TempDir& dir, const std::string& exeName,
                           const std::string& archivePath, const std::string& prefix);

std::string Text(const std::vector<uint8_t>& bytes);

}  // namespace packagetest

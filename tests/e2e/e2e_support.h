#pragma once
// Running the built zipgraft and looking at what it made.

#include <map>
#include <string>
#include <vector>

#include "pefile_dump.h"
#include "test_support.h"

namespace e2e {

struct Run {
  int exitCode;
  std::string stdoutText;
};

// Runs zipgraft with the arguments, capturing standard output only.
Run RunZipgraft(const std::vector<std::string>& args);

using testsupport::StubPath;

// The banner every run starts with.
std::string Banner();

// Writes the files into dir/src and zips them with Info-ZIP into dir/name.
std::string MakeArchive(const testsupport::TempDir& dir, const std::string& name,
                        const std::map<std::string, std::string>& files);

// A definition document naming the package and its version.
std::string Definition(const std::string& name, const std::string& version,
                       const std::string& fileName = "setup42.exe");

// pefile's view of every resource but the version, as "type name lang codepage data".
std::vector<std::string> OtherResources(const PefileDump& dump);

// Stdout of a build that gets past the definition load, up to and including
// the updating lines.
std::string BuildPrelude(const std::string& stub, const std::string& archive,
                         const std::string& name, const std::string& version);

}  // namespace e2e

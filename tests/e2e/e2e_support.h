#pragma once
// Running the built zipgraft and looking at what it made.

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace e2e {

struct Run {
  int exitCode;
  std::string stdoutText;
};

// Runs zipgraft with the arguments, capturing standard output only.
Run RunZipgraft(const std::vector<std::string>& args);

std::string Stub(const std::string& name);  // a built test stub, e.g. "stub64_full"

// The banner every run starts with.
std::string Banner();

// Writes the files into dir/src and zips them with Info-ZIP into dir/name.
std::string MakeArchive(const testsupport::TempDir& dir, const std::string& name,
                        const std::map<std::string, std::string>& files);

// A definition document naming the package and its version.
std::string Definition(const std::string& name, const std::string& version,
                       const std::string& fileName = "setup42.exe");

// pefile's view of an executable, one fact per line (see pe_report.py).
std::vector<std::string> PeReport(const std::string& path);
// The "string" lines of a report, as "table key=value".
std::vector<std::string> VersionStrings(const std::string& path);
// The "resource" lines of a report for every type but 16.
std::vector<std::string> OtherResources(const std::string& path);

// Stdout of a build that gets past the definition load, up to and including
// the updating lines.
std::string BuildPrelude(const std::string& stub, const std::string& archive,
                         const std::string& name, const std::string& version);

}  // namespace e2e

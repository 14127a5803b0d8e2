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

// The tool under test: the build's own zipgraft, or, when ZG_E2E_WINDOWS_TOOL
// names a command that runs zipgraft.exe (under Wine), that one. The Windows
// tool is given Windows paths (Z:\... for Wine) and writes CRLF line ends.
bool WindowsTool();

// A path as the tool is given it and shows it.
std::string ToolPath(const std::string& path);

// Expected standard output in the tool's form: each quoted absolute path as
// ToolPath gives it, and CRLF line ends for the Windows tool.
std::string Stdout(const std::string& text);

// The program and arguments that run the tool on args, absolute paths
// among them converted with ToolPath.
std::vector<std::string> ToolCommand(const std::vector<std::string>& args);

// ToolCommand as a shell command line.
std::string ToolCommandLine(const std::vector<std::string>& args);

// How long one run of the tool may take, through RunZipgraft or a
// ToolProcess, before it is stopped and its test fails.
constexpr int kRunSeconds = 90;

// Runs zipgraft with the arguments, capturing standard output only. A build
// that succeeds is then verified whole with --verify, unless recheck is kNo
// (a damaged input's members come through as damaged as they came).
enum class Recheck { kYes, kNo };
Run RunZipgraft(const std::vector<std::string>& args, Recheck recheck = Recheck::kYes);

using testsupport::StubPath;

// The banner every run starts with.
std::string Banner();

// Writes an archive of the files, deflated, as dir/name.
std::string MakeArchive(const testsupport::TempDir& dir, const std::string& name,
                        const std::map<std::string, std::string>& files);

// A definition document naming the package and its version.
std::string Definition(const std::string& name, const std::string& version,
                       const std::string& fileName = "setup42.exe");

// pefile's view of every resource but the version, as "type name lang codepage data".
std::vector<std::string> OtherResources(const PefileDump& dump);

// What a build of stub and archive into output leaves when it fails right
// after the version update (the archive read-only for that run): the stub
// copy with its new version resource. The output is removed again.
std::vector<uint8_t> UpdatedStubCopy(const std::string& stub, const std::string& archive,
                                     const std::string& output);

// Stdout of a build that gets past the definition load, up to and including
// the updating lines.
std::string BuildPrelude(const std::string& stub, const std::string& archive,
                         const std::string& name, const std::string& version);

}  // namespace e2e

#include "e2e_support.h"

#include "zip_test_archive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace e2e {

using testsupport::ShellQuote;

namespace {

const char* WindowsToolCommand() { return std::getenv("ZG_E2E_WINDOWS_TOOL"); }

}  // namespace

bool WindowsTool() {
  const char* command = WindowsToolCommand();
  return command != nullptr && *command != '\0';
}

std::string ToolPath(const std::string& path) {
  if (!WindowsTool() || path.empty() || path[0] != '/') return path;
  // Wine's drive Z: is the root of the Linux file system.
  std::string windows = "Z:" + path;
  for (char& c : windows) c = c == '/' ? '\\' : c;
  return windows;
}

std::string Stdout(const std::string& text) {
  if (!WindowsTool()) return text;
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      out += "\r\n";
    } else if (text[i] == '\'' && i + 1 < text.size() && text[i + 1] == '/') {
      const std::size_t close = text.find('\'', i + 1);
      const std::size_t end = close == std::string::npos ? text.size() : close;
      out += '\'' + ToolPath(text.substr(i + 1, end - i - 1));
      i = end - 1;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<std::string> ToolCommand(const std::vector<std::string>& args) {
  std::vector<std::string> command = {WindowsTool() ? WindowsToolCommand() : ZG_ZIPGRAFT};
  for (const auto& a : args) command.push_back(ToolPath(a));
  return command;
}

std::string ToolCommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& word : ToolCommand(args)) line += (line.empty() ? "" : " ") + ShellQuote(word);
  return line;
}

// The tool writes nothing to standard error: whatever reaches it (Wine's
// reason for not starting a program, a sanitizer's report) goes to the test's
// own, so that a failed run says why.
namespace {

// A run that does not end fails its test at kRunSeconds, naming the run,
// instead of holding the suite until the test's own timeout says nothing of
// why.
testsupport::CommandResult RunWithDeadline(const std::string& line) {
  auto r = testsupport::RunCommand("timeout -k 5 " + std::to_string(kRunSeconds) + " " + line);
  if (r.exitCode == 124 || r.exitCode == 137) {
    ADD_FAILURE() << "the run did not end within " << kRunSeconds << " s and was stopped: "
                  << line << "\n" << r.output;
  }
  return r;
}

}  // namespace

Run RunZipgraft(const std::vector<std::string>& args, Recheck recheck) {
  auto r = RunWithDeadline(ToolCommandLine(args));
  // Every package a build reports as made must pass the whole check too
  // (by the Linux tool: the package is the same whichever tool built it).
  if (recheck == Recheck::kYes && r.exitCode == 0 && args.size() >= 3) {
    const auto verify = RunWithDeadline(ShellQuote(ZG_ZIPGRAFT) + " --verify " +
                                        ShellQuote(args[2]));
    EXPECT_EQ(verify.exitCode, 0) << "--verify " << args[2] << ":\n" << verify.output;
  }
  return {r.exitCode, r.output};
}

std::string Banner() {
  return "\nZIPGRAFT: Tarvel Package Build Tool\n-----------------------------------";
}

std::string MakeArchive(const testsupport::TempDir& dir, const std::string& name,
                        const std::map<std::string, std::string>& files) {
  return ziptest::WriteArchive(dir.File(name), {files.begin(), files.end()}, 8);
}

std::string Definition(const std::string& name, const std::string& version,
                       const std::string& fileName) {
  return "<?xml version=\"1.0\"?>\n<trv_package>\n  <filename>" + fileName +
         "</filename>\n  <name>\n    <name_xlate lang=\"en\">" + name +
         "</name_xlate>\n  </name>\n  <version value=\"" + version + "\"/>\n</trv_package>\n";
}

std::vector<std::string> OtherResources(const PefileDump& dump) {
  std::vector<std::string> out;
  for (const auto& r : dump.resources)
    if (r.type != "16")
      out.push_back(r.type + " " + r.name + " " + std::to_string(r.language) + " " + r.codePage +
                    " " + r.dataHex);
  return out;
}

std::vector<uint8_t> UpdatedStubCopy(const std::string& stub, const std::string& archive,
                                     const std::string& output) {
  namespace fs = std::filesystem;
  fs::permissions(archive, fs::perms::owner_write, fs::perm_options::remove);
  const int exitCode = RunZipgraft({stub, archive, output}).exitCode;
  fs::permissions(archive, fs::perms::owner_write, fs::perm_options::add);
  if (exitCode != 1 || !fs::exists(output)) return {};
  auto bytes = testsupport::ReadFile(output);
  fs::remove(output);
  return bytes;
}

std::string BuildPrelude(const std::string& stub, const std::string& archive,
                         const std::string& name, const std::string& version) {
  return Banner() + "\n- verifying '" + stub + "'\n- loading package definition from '" +
         archive + "'\n- copying stub from '" + stub +
         "'\n- updating stub version information for:\n    " + name + "\n    version " +
         version + "\n";
}

}  // namespace e2e

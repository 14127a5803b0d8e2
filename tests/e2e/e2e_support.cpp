#include "e2e_support.h"

#include <filesystem>
#include <sstream>

namespace e2e {

using testsupport::ShellQuote;

Run RunZipgraft(const std::vector<std::string>& args) {
  std::string line = ShellQuote(ZG_ZIPGRAFT);
  for (const auto& a : args) line += " " + ShellQuote(a);
  auto r = testsupport::RunCommand(line + " 2>/dev/null");
  return {r.exitCode, r.output};
}

std::string Stub(const std::string& name) { return std::string(ZG_STUB_DIR) + "/" + name + ".exe"; }

std::string Banner() {
  return "\nZIPGRAFT: Tarvel Package Build Tool\n-----------------------------------";
}

std::string MakeArchive(const testsupport::TempDir& dir, const std::string& name,
                        const std::map<std::string, std::string>& files) {
  const auto src = dir.Path() / ("src-" + name);
  std::filesystem::create_directories(src);
  std::string list;
  for (const auto& [file, content] : files) {
    testsupport::WriteFile((src / file).string(), content);
    list += " " + ShellQuote(file);
  }
  const std::string archive = dir.File(name);
  auto r = testsupport::RunCommand("cd " + ShellQuote(src.string()) + " && zip -q -X " +
                                   ShellQuote(archive) + list, true);
  if (r.exitCode != 0) throw std::runtime_error("zip failed: " + r.output);
  return archive;
}

std::string Definition(const std::string& name, const std::string& version,
                       const std::string& fileName) {
  return "<?xml version=\"1.0\"?>\n<trv_package>\n  <filename>" + fileName +
         "</filename>\n  <name>\n    <name_xlate lang=\"en\">" + name +
         "</name_xlate>\n  </name>\n  <version value=\"" + version + "\"/>\n</trv_package>\n";
}

std::vector<std::string> PeReport(const std::string& path) {
  auto r = testsupport::RunCommand("/usr/bin/python3 " + ShellQuote(ZG_PE_REPORT) + " " +
                                   ShellQuote(path), true);
  if (r.exitCode != 0) throw std::runtime_error("pe_report failed: " + r.output);
  std::vector<std::string> lines;
  std::istringstream in(r.output);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

namespace {
std::vector<std::string> Select(const std::string& path, const std::string& prefix,
                                const std::string& skip = "") {
  std::vector<std::string> out;
  for (const auto& l : PeReport(path))
    if (l.rfind(prefix, 0) == 0 && (skip.empty() || l.rfind(skip, 0) != 0))
      out.push_back(l.substr(prefix.size()));
  return out;
}
}  // namespace

std::vector<std::string> VersionStrings(const std::string& path) { return Select(path, "string "); }

std::vector<std::string> OtherResources(const std::string& path) {
  return Select(path, "resource ", "resource 16 ");
}

std::string BuildPrelude(const std::string& stub, const std::string& archive,
                         const std::string& name, const std::string& version) {
  return Banner() + "\n- verifying '" + stub + "'\n- loading package definition from '" +
         archive + "'\n- copying stub from '" + stub +
         "'\n- updating stub version information for:\n    " + name + "\n    version " +
         version + "\n";
}

}  // namespace e2e

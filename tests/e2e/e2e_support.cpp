#include "e2e_support.h"

#include <filesystem>

namespace e2e {

using testsupport::ShellQuote;

Run RunZipgraft(const std::vector<std::string>& args) {
  std::string line = ShellQuote(ZG_ZIPGRAFT);
  for (const auto& a : args) line += " " + ShellQuote(a);
  auto r = testsupport::RunCommand(line + " 2>/dev/null");
  return {r.exitCode, r.output};
}

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

std::vector<std::string> OtherResources(const PefileDump& dump) {
  std::vector<std::string> out;
  for (const auto& r : dump.resources)
    if (r.type != "16")
      out.push_back(r.type + " " + r.name + " " + std::to_string(r.language) + " " + r.codePage +
                    " " + r.dataHex);
  return out;
}

std::string BuildPrelude(const std::string& stub, const std::string& archive,
                         const std::string& name, const std::string& version) {
  return Banner() + "\n- verifying '" + stub + "'\n- loading package definition from '" +
         archive + "'\n- copying stub from '" + stub +
         "'\n- updating stub version information for:\n    " + name + "\n    version " +
         version + "\n";
}

}  // namespace e2e

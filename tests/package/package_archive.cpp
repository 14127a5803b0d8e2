#include "package_archive.h"

#include <gtest/gtest.h>

namespace packagetest {

using testsupport::ShellQuote;

std::string MakeArchive(const testsupport::TempDir& dir, const std::string& archiveName,
                        const std::vector<Member>& members, const std::string& options) {
  const std::string archive = dir.File(archiveName);
  std::string command = "/usr/bin/python3 " +
                        ShellQuote(testsupport::SourceDir() + "/tests/package/make_archive.py") +
                        " " + ShellQuote(archive) + " " + options;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const std::string source = dir.File("member" + std::to_string(i) + ".src");
    testsupport::WriteFile(source, members[i].content);
    command += " " + ShellQuote(members[i].name + "=" + source);
  }
  const auto run = testsupport::RunCommand(command, true);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  return archive;
}

std::string Definition(const std::string& fileName, const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<trv_package>\n  <filename>" + fileName + "</filename>\n" +
         body + "\n</trv_package>\n";
}

std::string StandardDefinition() {
  return Definition("SETUP42.exe",
                    "  <name>\n    <name_xlate lang=\"en\">Demo Tools</name_xlate>\n"
                    "    <name_xlate lang=\"de\">Beispielwerkzeuge</name_xlate>\n  </name>\n"
                    "  <version value=\"1.2.3.4\"/>");
}

}  // namespace packagetest

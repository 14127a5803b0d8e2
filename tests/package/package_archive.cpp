#include "package_archive.h"

#include "zip_test_archive.h"

namespace packagetest {

std::string MakeArchive(const testsupport::TempDir& dir, const std::string& archiveName,
                        const std::vector<Member>& members, uint16_t method) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const Member& m : members) files.emplace_back(m.name, m.content);
  return ziptest::WriteArchive(dir.File(archiveName), files, method);
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

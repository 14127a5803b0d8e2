// Packages built from fixed inputs must not change unless we mean them to:
// every stub the tests build, with a few archives of fixed bytes, against the
// SHA-256 digests recorded in package_digests.tsv.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "e2e_support.h"
#include "zip_test_archive.h"

namespace {

const char* const kStubs[] = {
    "stub64_full",     "stub32_full",        "stub64_partial", "stub64_german",
    "stub64_noversion", "stub64_rich",       "stub64_extrasection", "stub64_overlay",
    "stub64_twolang",  "stub64_signed",      "stub64_neutral", "stub64_emptyvalue",
};

std::string ExampleFile(const std::string& name) {
  const auto bytes = testsupport::ReadFile(testsupport::SourceDir() + "/examples/package/" + name);
  return std::string(bytes.begin(), bytes.end());
}

// Archives of fixed bytes (Info-ZIP would store the files' times).
std::map<std::string, std::string> Archives() {
  using ziptest::Make;
  ziptest::Archive example;
  for (const char* name : {"SETUP42.xml", "tv_data.xml", "config_en.xml", "config_de.xml",
                           "settings.cfg", "files/readme.txt", "files/sounddrv.bin"}) {
    example.members.push_back(Make(name, ExampleFile(name), 8));
  }
  ziptest::Archive plain;
  plain.members = {Make("SETUP42.xml", e2e::Definition("Plain", "3.1.4")),
                   Make("data/empty.bin", ""), Make("data/pattern.bin", testsupport::Pattern(70000, 3), 8)};
  // Extra fields with zero bytes in them, as Info-ZIP writes its timestamps,
  // and an archive comment.
  ziptest::Archive extras;
  extras.members = {Make("setup42.XML", e2e::Definition("Extras \xc3\xa9t\xc3\xa9", "9-8,7"), 8),
                    Make("notes.txt", "notes\n")};
  extras.members[0].extra = std::string("UT\x05\x00\x03\x10\x20\x30\x40", 9);
  extras.members[1].extra = std::string("xy\x02\x00\x00\x01", 6);
  extras.comment = "built for the digest test";
  return {{"example", ziptest::Build(example)},
          {"plain", ziptest::Build(plain)},
          {"extras", ziptest::Build(extras)}};
}

std::string Sha256(const std::string& path) {
  const auto r = testsupport::RunCommand("sha256sum " + testsupport::ShellQuote(path));
  return r.output.substr(0, 64);
}

std::map<std::string, std::string> ReadTable(const std::string& path) {
  std::map<std::string, std::string> table;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto tab = line.find('\t');
    table[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return table;
}

TEST(PackageDigests, FixedInputsGiveTheRecordedPackages) {
  testsupport::TempDir dir;
  std::vector<std::pair<std::string, std::string>> stubs;
  for (const char* name : kStubs) stubs.emplace_back(name, testsupport::StubPath(name));
  stubs.emplace_back("example_stub", testsupport::SourceDir() + "/examples/stub/stub.exe");

  std::ostringstream actual;
  for (const auto& [archiveName, bytes] : Archives()) {
    const std::string archive = dir.File(archiveName + ".zip");
    testsupport::WriteFile(archive, bytes);
    for (const auto& [stubName, stub] : stubs) {
      const std::string output = dir.File("SETUP42.exe");
      const auto run = e2e::RunZipgraft({stub, archive, output, "digest pass"});
      actual << stubName << '+' << archiveName << '\t' << run.exitCode << ' ' << Sha256(output)
             << '\n';
      std::filesystem::remove(output);
    }
  }
  const std::string recorded = testsupport::SourceDir() + "/tests/e2e/package_digests.tsv";
  const std::string written = dir.File("package_digests.tsv");
  testsupport::WriteFile(written, actual.str());
  const auto want = ReadTable(recorded);
  const auto got = ReadTable(written);
  for (const auto& [key, value] : got) {
    EXPECT_EQ(value, want.count(key) ? want.at(key) : "(not recorded)") << key;
  }
  EXPECT_EQ(got.size(), want.size());
  if (HasFailure()) {
    const std::string kept = testsupport::BinaryDir() + "/package_digests.tsv";
    testsupport::WriteFile(kept, actual.str());
    ADD_FAILURE() << "the packages differ; when that is intended, copy " << kept << " over "
                  << recorded;
  }
}

}  // namespace

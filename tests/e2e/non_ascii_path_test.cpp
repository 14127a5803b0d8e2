// Stub, archive and output in folders whose names are not ASCII: the build
// works, and the progress lines show the names as they are (UTF-8 on a pipe).

#include <gtest/gtest.h>

#include <filesystem>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;

TEST(NonAsciiPaths, PackagesBuildInFoldersOfAnyName) {
  testsupport::TempDir dir;
  const std::string archive = e2e::MakeArchive(
      dir, "data.zip", {{"SETUP42.xml", e2e::Definition("\xC3\x9C" "bersicht", "1.2")}});
  for (const std::string folder :
       {"Paket-\xC3\x9C" "bersicht", "\xE3\x83\x91\xE3\x83\x83\xE3\x82\xB1\xE3\x83\xBC\xE3\x82\xB8"}) {
    SCOPED_TRACE(folder);
    const fs::path place = dir.Path() / folder;
    fs::create_directory(place);
    const std::string stub = (place / "st\xC3\xBC" "b.exe").string();
    const std::string data = (place / "d\xC3\xA4t\xC3\xA4.zip").string();
    const std::string output = (place / "SETUP42.exe").string();
    fs::copy_file(e2e::StubPath("stub64_full"), stub);
    fs::copy_file(archive, data);

    const auto run = e2e::RunZipgraft({stub, data, output});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdoutText,
              e2e::Stdout(e2e::BuildPrelude(stub, data, "\xC3\x9C" "bersicht", "1.2") +
                          "\n- modifying offsets in the .zip file '" + data +
                          "'\n- opening temporary file '" + output +
                          ".tmp'\n- opening output file '" + output + "'\n- writing .zip data to '" +
                          output + "'\n- package assembled.  verifying...\n"
                          "- package was created successfully.\n\n"));
    EXPECT_EQ(testsupport::RunCommand("unzip -tq " + testsupport::ShellQuote(output)).exitCode, 0);
    EXPECT_FALSE(fs::exists(output + ".tmp"));
    EXPECT_EQ(testsupport::ReadFile(data), testsupport::ReadFile(archive));
  }
}

}  // namespace

// Entries planted or swapped while a build runs: a link put at the temporary
// name once the rewrite has written it, an archive renamed over ZIPDATA after
// the definition was loaded from it, a stub renamed over STUBPROG after its
// test, another package renamed over the output or bytes written through it
// before the verification, and entries planted inside the tool between the
// removal of a name and its exclusive creation or before the clean-up. A full
// standard output pipe holds
// the tool inside a print while the test does its work.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "e2e_support.h"
#include "tool_process.h"

namespace {

namespace fs = std::filesystem;

class RaceTest : public ::testing::Test {
 public:
  testsupport::TempDir dir;
  std::string stub = e2e::StubPath("stub64_full");
  std::string output = dir.File("SETUP42.exe");
  std::string temporary = output + ".tmp";
  std::string victim = dir.File("victim.txt");

  void SetUp() override { testsupport::WriteFile(victim, std::string("somebody's data")); }

  std::string Archive(const std::string& name, const std::string& version) {
    return e2e::MakeArchive(dir, name,
                            {{"SETUP42.xml", e2e::Definition("Race", version)},
                             {"payload.bin", testsupport::Pattern(300000, 3)}});
  }

  // What the tool prints up to and including the line that begins with until.
  std::string PrintedUpTo(const std::string& archive, const std::string& until) {
    const std::string all = e2e::BuildPrelude(stub, archive, "Race", "1.0") +
                            "\n- modifying offsets in the .zip file '" + archive +
                            "'\n- opening temporary file '" + temporary +
                            "'\n- opening output file '" + output + "'\n- writing .zip data to '" +
                            output + "'";
    const std::size_t at = all.find('\n', all.find(until) + 1);
    return e2e::Stdout(all.substr(0, at));
  }
};

TEST_F(RaceTest, ALinkPlantedAtTheTemporaryNameIsNeverFollowed) {
  const std::string archive = Archive("data.zip", "1.0");
  ASSERT_EQ(e2e::RunZipgraft({stub, archive, output}).exitCode, 0);
  const auto package = testsupport::ReadFile(output);
  fs::remove(output);
  const std::size_t rewritten =
      package.size() - e2e::UpdatedStubCopy(stub, archive, output).size();
  // Held inside the print that precedes the append, once the rewrite is whole.
  e2e::ToolProcess tool({stub, archive, output}, PrintedUpTo(archive, "- modifying").size());
  ASSERT_TRUE(tool.ReachesGate()) << tool.Output();
  std::error_code ec;
  for (int i = 0; i < 2000 && fs::file_size(temporary, ec) != rewritten; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(fs::file_size(temporary), rewritten);
  fs::remove(temporary);
  fs::create_symlink(victim, temporary);
  const auto run = tool.Finish();
  EXPECT_EQ(run.exitCode, 0) << run.stdoutText;
  EXPECT_EQ(testsupport::ReadFile(output), package);
  EXPECT_TRUE(testsupport::ReadText(victim) == "somebody's data");
  EXPECT_TRUE(fs::is_symlink(temporary));
}

TEST_F(RaceTest, AnArchiveSwappedAfterTheDefinitionLoadFailsTheBuild) {
  const std::string archive = Archive("data.zip", "1.0");
  const auto stubCopy = e2e::UpdatedStubCopy(stub, archive, output);
  ASSERT_FALSE(stubCopy.empty());
  const std::string other = Archive("other.zip", "2.0");
  const uint64_t otherDigest = testsupport::FileDigest(other);
  // Held inside the updating line: the definition has been loaded.
  e2e::ToolProcess tool({stub, archive, output}, PrintedUpTo(archive, "- copying").size());
  ASSERT_TRUE(tool.ReachesGate()) << tool.Output();
  fs::rename(other, archive);
  const auto run = tool.Finish();
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.stdoutText.ends_with(e2e::Stdout(
      "\n- modifying offsets in the .zip file '" + archive + "'\nERROR: '" + archive +
      "' changed during the build\nERROR: package assembly failed\n\n")))
      << run.stdoutText;
  EXPECT_EQ(testsupport::FileDigest(archive), otherDigest);
  EXPECT_EQ(testsupport::ReadFile(output), stubCopy);
  EXPECT_FALSE(fs::exists(temporary));
}

// Another package renamed over the output once it is assembled is not
// taken for it: the verification loads the file the build made, or fails.
TEST_F(RaceTest, APackageSwappedInBeforeTheVerificationFailsIt) {
  const std::string archive = Archive("data.zip", "1.0");
  const std::string other = dir.File("other/SETUP42.exe");
  fs::create_directory(dir.File("other"));
  ASSERT_EQ(e2e::RunZipgraft({stub, Archive("other.zip", "2.0"), other}).exitCode, 0);
  const uint64_t otherDigest = testsupport::FileDigest(other);
  // Held inside the line that announces the verification.
  e2e::ToolProcess tool({stub, archive, output}, PrintedUpTo(archive, "- writing").size());
  ASSERT_TRUE(tool.ReachesGate()) << tool.Output();
  fs::rename(other, output);
  const auto run = tool.Finish();
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.stdoutText.ends_with(e2e::Stdout(
      "\n- package assembled.  verifying...\nERROR: unable to open and verify '" + output +
      "'\n\n")))
      << run.stdoutText;
  EXPECT_EQ(testsupport::FileDigest(output), otherDigest);
  EXPECT_FALSE(fs::exists(temporary));
}

// --verify checks the package through the handle it opened, then loads it by
// name: a file renamed over that name in between, even a sound package, fails
// the verification, and neither file is changed.
TEST_F(RaceTest, APackageSwappedInDuringVerifyFailsIt) {
  const std::string overlay = e2e::StubPath("stub64_overlay");
  ASSERT_EQ(e2e::RunZipgraft({overlay, Archive("data.zip", "1.0"), output}).exitCode, 0);
  const std::string other = dir.File("other/SETUP42.exe");
  fs::create_directory(dir.File("other"));
  ASSERT_EQ(e2e::RunZipgraft({overlay, Archive("other.zip", "2.0"), other}).exitCode, 0);
  const uint64_t otherDigest = testsupport::FileDigest(other);
  // The stub's own bytes behind its image are a note: the tool is held in
  // its line, once the whole check is done and before the load.
  const std::string head = e2e::Banner() + "\n- verifying package '" + output + "'";
  e2e::ToolProcess tool({"--verify", output}, e2e::Stdout(head).size());
  ASSERT_TRUE(tool.ReachesGate()) << tool.Output();
  fs::rename(other, output);
  const auto run = tool.Finish();
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.stdoutText.find("kept from the stub"), std::string::npos) << run.stdoutText;
  EXPECT_TRUE(run.stdoutText.ends_with(
      e2e::Stdout("\nERROR: unable to open and verify '" + output + "'\n\n")))
      << run.stdoutText;
  EXPECT_EQ(testsupport::FileDigest(output), otherDigest);
}

// Bytes written through the output once it is assembled and before the
// verification fail the build, which is undone: the build checks the headers
// it wrote from the handle it holds.
TEST_F(RaceTest, WhatChangesBeforeTheVerificationFailsIt) {
  const std::string archive = Archive("data.zip", "1.0");
  const auto stubCopy = e2e::UpdatedStubCopy(stub, archive, output);
  ASSERT_GT(stubCopy.size(), 0x40u);
  ASSERT_EQ(e2e::RunZipgraft({stub, archive, output}).exitCode, 0);
  const uint64_t size = fs::file_size(output);
  fs::remove(output);
  const uint64_t prefix = stubCopy.size();
  const uint64_t image = stubCopy[0x3c] | stubCopy[0x3d] << 8 | stubCopy[0x3e] << 16;
  const struct {
    const char* what;
    uint64_t at;  // the byte turned into its complement
  } cases[] = {
      {"the first local header's signature", prefix + 1},
      {"the first local header's CRC-32", prefix + 14},
      {"the first local header's name", prefix + 30},
      {"the end record's signature", size - 22},
      {"the image's time stamp", image + 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Held inside the line that announces the verification.
    e2e::ToolProcess tool({stub, archive, output}, PrintedUpTo(archive, "- writing").size());
    ASSERT_TRUE(tool.ReachesGate()) << tool.Output();
    // The gate opens on the line that comes before the append: the package
    // is assembled once it has its size and the temporary file is gone.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((fs::file_size(output) != size || fs::exists(temporary)) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(fs::file_size(output), size) << "waited 60 s in vain for the package to be assembled";
    ASSERT_FALSE(fs::exists(temporary)) << "waited 60 s in vain for the temporary file to go";
    {
      std::fstream file(output, std::ios::in | std::ios::out | std::ios::binary);
      file.seekg(static_cast<std::streamoff>(c.at));
      const char byte = static_cast<char>(~file.get());
      file.seekp(static_cast<std::streamoff>(c.at));
      file.put(byte);
      ASSERT_TRUE(file.flush());
    }
    const auto run = tool.Finish();
    EXPECT_EQ(run.exitCode, 1);
    const std::string verifying = e2e::Stdout("\n- package assembled.  verifying...\nERROR: ");
    const std::size_t found = run.stdoutText.find(verifying);
    ASSERT_NE(found, std::string::npos) << run.stdoutText;
    const std::string findings = run.stdoutText.substr(found + verifying.size());
    EXPECT_NE(findings.find(" (at offset 0x"), std::string::npos) << run.stdoutText;
    EXPECT_TRUE(findings.ends_with(
        e2e::Stdout("\nERROR: unable to open and verify '" + output + "'\n\n")))
        << run.stdoutText;
    EXPECT_EQ(fs::file_size(output), stubCopy.size());
    EXPECT_FALSE(fs::exists(temporary));
    fs::remove(output);
  }
}

// The stub is opened once: the stub tested is the stub copied, even when one
// that already carries a package is renamed over its name after the test.
TEST_F(RaceTest, TheStubTestedIsTheStubCopied) {
  const std::string archive = Archive("data.zip", "1.0");
  const std::string plain = stub;
  stub = dir.File("stub.exe");
  fs::copy_file(plain, stub);
  ASSERT_EQ(e2e::RunZipgraft({stub, archive, output}).exitCode, 0);
  const auto package = testsupport::ReadFile(output);
  fs::remove(output);
  // A stub that carries a package named after itself, as it will be named.
  const std::string carrier = dir.File("carrier/stub.exe");
  fs::create_directory(dir.File("carrier"));
  const std::string carried =
      e2e::MakeArchive(dir, "carried.zip", {{"stub.xml", e2e::Definition("Carried", "9.0")}});
  ASSERT_EQ(e2e::RunZipgraft({plain, carried, carrier}).exitCode, 0);
  // Held inside the loading line: the stub has passed its test.
  e2e::ToolProcess tool({stub, archive, output}, PrintedUpTo(archive, "- verifying").size());
  ASSERT_TRUE(tool.ReachesGate()) << tool.Output();
  fs::rename(carrier, stub);
  const auto run = tool.Finish();
  EXPECT_EQ(run.exitCode, 0) << run.stdoutText;
  EXPECT_EQ(testsupport::ReadFile(output), package);
  // Given from the start, the carrier is refused.
  fs::remove(output);
  const auto refused = e2e::RunZipgraft({stub, archive, output});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.stdoutText.find(e2e::Stdout("\nERROR: the stub already has a .zip payload")),
            std::string::npos)
      << refused.stdoutText;
}

// Somebody else's entry put at either name inside the tool (the plant shim):
// between the name being cleared and the exclusive create, a symbolic or a
// hard link to a victim file, which the create neither follows nor truncates
// and the clean-up does not remove; and just before the clean-up removes the
// temporary file, the victim renamed onto its name, which stays. The victim's
// bytes are never touched.
TEST_F(RaceTest, EntriesPlantedAtEitherNameAreLeftAsTheyAre) {
  if (e2e::WindowsTool()) GTEST_SKIP() << "a shim in the Linux tool's C library";
  const std::string archive = Archive("data.zip", "1.0");
  const std::string copyFailed = "\nERROR: unable to copy '" + stub + "' to '" + output + "'";
  const std::string saveFailed = "\nERROR: unable to save and update '" + temporary + "'";
  const std::string built = "\n- package was created successfully.\n\n";
  const struct {
    std::string when, kind, at, line;
    int exitCode;
  } cases[] = {
      {"create", "symlink", output, copyFailed, 1},
      {"create", "symlink", temporary, saveFailed, 1},
      {"create", "hardlink", output, copyFailed, 1},
      {"create", "hardlink", temporary, saveFailed, 1},
      {"remove", "rename", temporary, built, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when + " " + c.kind + " " + c.at);
    testsupport::WriteFile(victim, std::string("somebody's data"));
    const auto run = e2e::ToolProcess({stub, archive, output}, std::nullopt,
                                      {{"LD_PRELOAD", ZG_PLANT_SHIM},
                                       {"ZG_PLANT_AT", fs::path(c.at).filename().string()},
                                       {"ZG_PLANT_WHEN", c.when},
                                       {"ZG_PLANT_KIND", c.kind},
                                       {"ZG_PLANT_TARGET", victim}})
                         .Finish();
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_NE(run.stdoutText.find(e2e::Stdout(c.line)), std::string::npos) << run.stdoutText;
    EXPECT_TRUE(testsupport::ReadText(c.at) == "somebody's data");
    if (c.kind == "symlink") {
      EXPECT_TRUE(fs::is_symlink(c.at));
    } else if (c.kind == "hardlink") {
      EXPECT_TRUE(fs::equivalent(c.at, victim));
    }
    fs::remove(c.at);
    EXPECT_FALSE(fs::exists(temporary));
    fs::remove(output);
    // Nothing else was left beside them.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()),
              1 + fs::exists(victim));
  }
}

}  // namespace

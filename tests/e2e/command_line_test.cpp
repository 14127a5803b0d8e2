#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

const char kUsage[] = "USAGE:\n\n\tzipgraft STUBPROG ZIPDATA OUTPUTFILE [PASS_STRING]\n\n";

TEST(CommandLine, FewerThanThreeArgumentsShowUsage) {
  testsupport::TempDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {}, {dir.File("a")}, {dir.File("a"), dir.File("b")}};
  for (const auto& args : cases) {
    const auto run = e2e::RunZipgraft(args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.stdoutText, e2e::Stdout(e2e::Banner() + kUsage + "\n\n"));
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

}  // namespace

namespace {

TEST(CommandLine, ClosedStandardOutputDoesNotStopTheBuild) {
  testsupport::TempDir dir;
  const std::string archive = e2e::MakeArchive(
      dir, "data.zip", {{"PKG.xml", e2e::Definition("Quiet", "1.0")}});
  const std::string output = dir.File("PKG.exe");
  // Standard output is a pipe nobody reads from: every write to it fails.
  const auto run = testsupport::RunCommand(
      "/usr/bin/python3 -c 'import os, subprocess, sys; r, w = os.pipe(); os.close(r); "
      "print(subprocess.run(sys.argv[1:], stdout=w).returncode)' " +
      e2e::ToolCommandLine({e2e::StubPath("stub64_full"), archive, output}));
  EXPECT_EQ(run.output, "0\n");
  EXPECT_FALSE(std::filesystem::exists(output + ".tmp"));
  EXPECT_EQ(testsupport::RunCommand("unzip -tq " + testsupport::ShellQuote(output)).exitCode, 0);
}

}  // namespace

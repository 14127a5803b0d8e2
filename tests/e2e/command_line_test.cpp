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

namespace {

namespace fs = std::filesystem;

const char kHelp[] =
    "\nUSAGE:\n\n"
    "\tzipgraft STUBPROG ZIPDATA OUTPUTFILE [PASS_STRING]\n"
    "\tzipgraft --verify PACKAGE\n"
    "\tzipgraft --help | -h | --version\n\n"
    "Builds OUTPUTFILE from a copy of STUBPROG with the ZIP archive ZIPDATA appended;\n"
    "ZIPDATA must hold the package definition named after OUTPUTFILE (SETUP42.xml\n"
    "for SETUP42.exe). PASS_STRING is stored as the PrivateBuild version string.\n\n"
    "OPTIONS:\n\n"
    "\t--verify PACKAGE  test PACKAGE whole (archive, every member's data,\n"
    "\t                  image) and load it as a package, for example after\n"
    "\t                  it has been signed; writes nothing\n"
    "\t-h, --help        show this text\n"
    "\t--version         show the version\n\n"
    "Exit status: 0 on success, 1 otherwise.\n\n";

// An option is one only as the whole command line; anything else of one or
// two arguments is shown the usage, as before the options existed.
TEST(CommandLine, OptionsStandAlone) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string stdoutText;
  };
  const std::string usage = e2e::Banner() + kUsage + "\n\n";
  const std::vector<Case> cases = {
      {{"--help"}, 0, e2e::Banner() + kHelp},
      {{"-h"}, 0, e2e::Banner() + kHelp},
      {{"--version"}, 0, std::string("zipgraft ") + ZG_PROJECT_VERSION + "\n"},
      {{"--verify"}, 1, usage},
      {{"--help", "--version"}, 1, usage},
      {{"-H"}, 1, usage},
      {{"--Version"}, 1, usage},
      {{"--verify=x"}, 1, usage},
  };
  for (const auto& c : cases) {
    const auto run = e2e::RunZipgraft(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.args[0];
    EXPECT_EQ(run.stdoutText, e2e::Stdout(c.stdoutText)) << c.args[0];
  }
}

// In the three- and four-argument forms every argument is a path, however
// much it looks like an option.
TEST(CommandLine, OptionLookalikesInABuildArePaths) {
  testsupport::TempDir dir;
  fs::copy_file(e2e::StubPath("stub64_full"), dir.File("--help"));
  e2e::MakeArchive(dir, "--verify", {{"--version.xml", e2e::Definition("Odd", "1.0")}});
  const auto run = testsupport::RunCommand(
      "cd " + testsupport::ShellQuote(dir.Path().string()) + " && " +
      e2e::ToolCommandLine({"--help", "--verify", "--version", "-h"}) + " 2>/dev/null");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output.rfind(e2e::Stdout(e2e::BuildPrelude("--help", "--verify", "Odd", "1.0")), 0),
            0u)
      << run.output;
  EXPECT_TRUE(fs::is_regular_file(dir.File("--version")));
}

// The package file of each case, made in its own folder (or not at all).
std::string SignedPackage(const testsupport::TempDir& dir, const std::string& package) {
  const std::string key = dir.File("key.pem"), cert = dir.File("cert.pem");
  const std::string signedPackage = dir.File("signed/SETUP42.exe");
  fs::create_directory(dir.File("signed"));
  using testsupport::ShellQuote;
  EXPECT_EQ(testsupport::RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "
                                    "/CN=zipgraft-test -keyout " + ShellQuote(key) + " -out " +
                                    ShellQuote(cert) + " >/dev/null 2>&1").exitCode, 0);
  EXPECT_EQ(testsupport::RunCommand("osslsigncode sign -certs " + ShellQuote(cert) + " -key " +
                                    ShellQuote(key) + " -n test -h sha256 -in " +
                                    ShellQuote(package) + " -out " + ShellQuote(signedPackage) +
                                    " >/dev/null 2>&1").exitCode, 0);
  return signedPackage;
}

// --verify loads a file as the build's last step does, and writes nothing:
// the file keeps its digest and no other file appears.
TEST(CommandLine, VerifyLoadsAnExistingPackage) {
  testsupport::TempDir dir;
  const std::string stub = e2e::StubPath("stub64_full");
  const std::string archive =
      e2e::MakeArchive(dir, "data.zip", {{"SETUP42.xml", e2e::Definition("Verified", "3.1")}});
  const std::string fresh = dir.File("SETUP42.exe");
  ASSERT_EQ(e2e::RunZipgraft({stub, archive, fresh}).exitCode, 0);
  fs::create_directory(dir.File("bare"));
  fs::create_directory(dir.File("unshifted"));
  const std::string bare = dir.File("bare/SETUP42.exe");
  fs::copy_file(stub, bare);
  const std::string unshifted = dir.File("unshifted/SETUP42.exe");
  testsupport::RunCommand("cat " + testsupport::ShellQuote(stub) + " " +
                          testsupport::ShellQuote(archive) + " >" +
                          testsupport::ShellQuote(unshifted));
  struct Case {
    std::string name;
    std::string package;
    bool sound;
  };
  std::vector<Case> cases = {{"fresh", fresh, true},
                             {"a stub without a package", bare, false},
                             {"archive appended unshifted", unshifted, false},
                             {"missing", dir.File("missing/SETUP42.exe"), false}};
  if (testsupport::HaveProgram("osslsigncode")) {
    cases.push_back({"signed after the build", SignedPackage(dir, fresh), true});
  } else {
    ADD_FAILURE() << "osslsigncode is not installed (scripts/setup.sh installs it)";
  }
  for (const auto& c : cases) {
    const bool exists = fs::exists(c.package);
    const uint64_t digest = exists ? testsupport::FileDigest(c.package) : 0;
    const std::string listing = "ls -lR " + testsupport::ShellQuote(dir.Path().string());
    const auto before = testsupport::RunCommand(listing).output;
    const auto run = e2e::RunZipgraft({"--verify", c.package});
    const std::string verdict = c.sound ? "\n- package is sound."
                                        : "\nERROR: unable to open and verify '" + c.package + "'";
    EXPECT_EQ(run.exitCode, c.sound ? 0 : 1) << c.name;
    // The lines of what was found stand between the two; a sound package
    // has notes at most (a signed one, that it is).
    const std::string head = e2e::Banner() + "\n- verifying package '" + c.package + "'";
    EXPECT_TRUE(run.stdoutText.starts_with(e2e::Stdout(head))) << c.name;
    EXPECT_TRUE(run.stdoutText.ends_with(e2e::Stdout(verdict + "\n\n"))) << c.name;
    if (c.sound) {
      EXPECT_EQ(run.stdoutText.find("ERROR"), std::string::npos) << c.name;
    }
    if (c.name == "fresh") {
      EXPECT_EQ(run.stdoutText, e2e::Stdout(head + verdict + "\n\n"));
    }
    EXPECT_EQ(fs::exists(c.package), exists) << c.name;
    if (exists) {
      EXPECT_EQ(testsupport::FileDigest(c.package), digest) << c.name;
    }
    EXPECT_EQ(testsupport::RunCommand(listing).output, before) << c.name;
  }
}

}  // namespace

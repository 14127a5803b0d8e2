// Faults from outside never cost data: a disk that fills up at any point of a
// build, interruptions at any moment, a stub too large to carry a package,
// and definitions built to exhaust memory. After a failure the output is
// absent or exactly the stub copy (with or without its new version resource),
// and no temporary file remains.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <csignal>
#include <filesystem>
#include <thread>

#include "e2e_support.h"
#include "tool_process.h"
#include "zip_test_archive.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The sanitizer build runs the same faults at fewer points: its tool starts
// and copies several times slower.
#ifdef ZG_SANITIZED
constexpr int kPoints = 12;
#else
constexpr int kPoints = 36;
#endif

class FaultTest : public ::testing::Test {
 public:
  testsupport::TempDir dir;
  std::string stub = e2e::StubPath("stub64_full");
  std::string output = dir.File("SETUP42.exe");

  // Failing writes and signals reach the Linux build's own tool only (a libc
  // shim, POSIX signals): under the Windows tool's registration those tests
  // would only run the Linux tool again.
  static bool LinuxToolOnly() { return e2e::WindowsTool(); }

  // An archive holding the definition and one stored member of dataSize bytes.
  std::string Archive(const std::string& name, std::size_t dataSize) {
    ziptest::Archive a;
    a.members.push_back(ziptest::Make("SETUP42.xml", e2e::Definition("Fault", "1.2"), 8));
    const std::string block = testsupport::Pattern(1 << 20, 9);
    std::string data;
    while (data.size() < dataSize) data += block;
    data.resize(dataSize);
    a.members.push_back(ziptest::Make("payload.bin", data));
    testsupport::WriteFile(dir.File(name), ziptest::Build(a));
    return dir.File(name);
  }

  int Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    return e2e::ToolProcess(args, std::nullopt, env).Finish().exitCode;
  }

  Bytes Output() const { return fs::exists(output) ? testsupport::ReadFile(output) : Bytes(); }
};

// The outputs a build may leave: after a failure nothing or the stub copy,
// updated or not; after success the whole package.
struct Outcomes {
  Bytes stub, updated, package;
};

Outcomes Reference(FaultTest& t, const std::string& archive) {
  Outcomes o;
  o.stub = testsupport::ReadFile(t.stub);
  EXPECT_EQ(e2e::RunZipgraft({t.stub, archive, t.output}).exitCode, 0);
  o.package = testsupport::ReadFile(t.output);
  fs::remove(t.output);
  o.updated = e2e::UpdatedStubCopy(t.stub, archive, t.output);
  EXPECT_FALSE(o.updated.empty());
  return o;
}

TEST_F(FaultTest, ADiskThatFillsUpAnywhereLeavesAtMostTheStubCopy) {
  if (LinuxToolOnly()) GTEST_SKIP() << "drives the Linux tool itself, not the one under test";
  const std::string archive = Archive("data.zip", 1500000);
  const Outcomes ref = Reference(*this, archive);
  ASSERT_NE(ref.updated, ref.stub);
  const uint64_t archiveDigest = testsupport::FileDigest(archive);
  // Everything a build writes: the copy, its rewrite, the temporary archive,
  // the append and the checksum.
  const uint64_t total = ref.stub.size() + ref.updated.size() +
                         2 * (ref.package.size() - ref.updated.size()) + 4;
  std::vector<uint64_t> limits = {0, 1, ref.stub.size() - 1, ref.stub.size(),
                                  ref.stub.size() + ref.updated.size() - 1, total - 4, total - 1,
                                  total};
  for (uint64_t i = 1; i < kPoints; ++i) limits.push_back(total * i / kPoints);
  int failed = 0;
  for (uint64_t limit : limits) {
    SCOPED_TRACE(limit);
    const int code = Run({stub, archive, output},
                         {{"LD_PRELOAD", ZG_WRITE_FAULT_SHIM},
                          {"ZG_FAIL_AFTER_BYTES", std::to_string(limit)}});
    EXPECT_FALSE(fs::exists(output + ".tmp"));
    EXPECT_EQ(testsupport::FileDigest(archive), archiveDigest);
    const Bytes left = Output();
    if (code == 0) {
      EXPECT_EQ(left, ref.package);
    } else {
      ++failed;
      EXPECT_EQ(code, 1);
      EXPECT_TRUE(!fs::exists(output) || left == ref.stub || left == ref.updated) << left.size();
    }
    fs::remove(output);
  }
  EXPECT_GT(failed, kPoints * 3 / 4);
}

TEST_F(FaultTest, InterruptionsAtAnyMomentUndoTheBuild) {
  if (LinuxToolOnly()) GTEST_SKIP() << "drives the Linux tool itself, not the one under test";
  const std::string archive = Archive("big.zip", 200u << 20);
  const Outcomes ref = Reference(*this, archive);
  const char* const moments[] = {"- verifying", "- copying stub", "- updating stub",
                                 "- modifying offsets", "- opening temporary file",
                                 "- writing .zip data"};
  int undone = 0;
  for (int round = 0; round < kPoints / 2; ++round) {
    const std::string moment = moments[round % 6];
    const int signal = round % 2 == 0 ? SIGTERM : SIGINT;
    SCOPED_TRACE(moment + " " + std::to_string(signal) + " round " + std::to_string(round));
    e2e::ToolProcess tool({stub, archive, output});
    // The line arrives while the run goes on: every line is flushed as printed.
    ASSERT_TRUE(tool.ReadUntil(moment)) << tool.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(round * 7 % 40));
    tool.Signal(signal);
    if (round % 4 == 3) tool.Signal(signal == SIGTERM ? SIGINT : SIGHUP);  // a second one
    const auto run = tool.Finish();
    const int code = run.exitCode;
    const Bytes left = Output();
    EXPECT_FALSE(fs::exists(output + ".tmp"));
    if (left == ref.package) {
      // Too late to interrupt: the package was whole (and verified, or the
      // signal ended the verification).
      EXPECT_TRUE(code == 0 || code == 128 + signal) << code;
    } else {
      EXPECT_EQ(code, 1);
      EXPECT_NE(run.stdoutText.find("\nERROR: interrupted"), std::string::npos) << run.stdoutText;
      EXPECT_TRUE(!fs::exists(output) || left == ref.stub || left == ref.updated) << left.size();
      ++undone;
    }
    fs::remove(output);
  }
  EXPECT_GT(undone, kPoints / 4);
}

// A limit on the size of any one file stops the copy, the rewrite or the
// append, depending on where it lies; each fails like a full disk does.
TEST_F(FaultTest, AFileSizeLimitFailsLikeAFullDisk) {
  if (LinuxToolOnly()) GTEST_SKIP() << "drives the Linux tool itself, not the one under test";
  const std::string archive = Archive("data.zip", 1500000);
  const Outcomes ref = Reference(*this, archive);
  const uint64_t archiveDigest = testsupport::FileDigest(archive);
  const uint64_t rewritten = ref.package.size() - ref.updated.size();
  const struct {
    uint64_t limit;
    std::string error;
  } cases[] = {
      {ref.stub.size() / 2, "\nERROR: unable to copy '" + stub + "' to '" + output + "'"},
      {rewritten / 2, "\nERROR: unable to save and update '" + output + ".tmp'"},
      {ref.package.size() - 1, "\nERROR: unable to write '" + output + "'"},
  };
  ASSERT_LT(ref.updated.size(), rewritten / 2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    // ulimit -f counts blocks of 512 bytes in sh; the limit is rounded down.
    const auto run = testsupport::RunCommand("ulimit -f " + std::to_string(c.limit / 512) + "; " +
                                             e2e::ToolCommandLine({stub, archive, output}) +
                                             " 2>/dev/null");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find(c.error + "\nERROR: package assembly failed"), std::string::npos)
        << run.output;
    EXPECT_FALSE(fs::exists(output + ".tmp"));
    EXPECT_EQ(testsupport::FileDigest(archive), archiveDigest);
    const Bytes left = Output();
    EXPECT_TRUE(!fs::exists(output) || left == ref.stub || left == ref.updated) << left.size();
    fs::remove(output);
  }
}

// Standard descriptors the caller closed are never reused for the tool's
// files, so no line lands in one of them: a sound build and one whose rewrite
// fails leave the inputs and their outputs just as with all three open.
TEST_F(FaultTest, ClosedStandardDescriptorsTakeNoLine) {
  const std::string archive = Archive("data.zip", 100000);
  const Outcomes ref = Reference(*this, archive);
  const uint64_t archiveDigest = testsupport::FileDigest(archive);
  for (const std::string closed : {">&-", "<&- >&- 2>&-"}) {
    // Wine itself runs nothing when started with standard input and output
    // both closed (and exits 0): there the Windows tool gets stdout closed.
    if (e2e::WindowsTool() && closed != ">&-") continue;
    SCOPED_TRACE(closed);
    const std::string command = e2e::ToolCommandLine({stub, archive, output}) + " " + closed;
    EXPECT_EQ(testsupport::RunCommand(command).exitCode, 0);
    EXPECT_EQ(Output(), ref.package);
    fs::create_directory(output + ".tmp");
    EXPECT_EQ(testsupport::RunCommand(command).exitCode, 1);
    EXPECT_EQ(Output(), ref.updated);
    fs::remove(output + ".tmp");
    fs::remove(output);
    EXPECT_EQ(testsupport::FileDigest(archive), archiveDigest);
  }
}

TEST_F(FaultTest, AStubTooLargeIsRefusedBeforeAnythingIsWritten) {
  const std::string archive = Archive("data.zip", 1000);
  const std::string huge = dir.File("huge.exe");
  { std::ofstream(huge, std::ios::binary) << "MZ"; }
  fs::resize_file(huge, uint64_t{2} << 30);  // sparse
  const auto run = e2e::RunZipgraft({huge, archive, output});
  EXPECT_EQ(run.exitCode, 1);
  const std::string refusal = "\nERROR: '" + huge + "' is too large to carry a package";
  EXPECT_NE(run.stdoutText.find(e2e::Stdout(refusal)), std::string::npos) << run.stdoutText;
  EXPECT_FALSE(fs::exists(output));
  EXPECT_FALSE(fs::exists(output + ".tmp"));
}

TEST_F(FaultTest, DefinitionsBuiltToExhaustMemoryAreRefusedCheaply) {
  std::string nested, siblings = "<r>";
  while (nested.size() < (10u << 20)) nested += "<a>";
  while (siblings.size() < (10u << 20)) siblings += "<a/>";
  for (const std::string& definition : {nested, siblings + "</r>"}) {
    ziptest::Archive a;
    a.members.push_back(ziptest::Make("SETUP42.xml", definition, 8));
    testsupport::WriteFile(dir.File("hostile.zip"), ziptest::Build(a));
    // The tool's own peak: measured by time(1), whose small process it
    // starts from, not by the test's, which holds hundreds of MiB itself.
    const std::string peak = dir.File("peak.txt");
    const auto run = testsupport::RunCommand(
        "/usr/bin/time -f %M -o " + testsupport::ShellQuote(peak) + " " +
        e2e::ToolCommandLine({stub, dir.File("hostile.zip"), output}) + " 2>&1");
    EXPECT_EQ(run.exitCode, 1);
    // Under Wine a run that never started also exits 1: its output says which.
    EXPECT_NE(run.output.find("\nERROR: unable to load the zip file or locate a package definition"),
              std::string::npos)
        << "output: [" << run.output << "]";
#ifndef ZG_SANITIZED  // the sanitizers' own bookkeeping takes memory of its own
    // time(1) says first that the command failed; the figure is last.
    std::string figures = testsupport::ReadText(peak);
    figures.erase(figures.find_last_not_of('\n') + 1);
    EXPECT_LT(std::stol(figures.substr(figures.find_last_of('\n') + 1)), 256 * 1024) << figures;
#endif
    EXPECT_FALSE(fs::exists(output));
  }
}

}  // namespace

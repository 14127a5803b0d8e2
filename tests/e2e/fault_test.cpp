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

#include "child_process.h"
#include "e2e_support.h"
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
  std::string log = dir.File("stdout.txt");

  // These drive the Linux build's own tool (a libc write shim, signals, its
  // peak memory): under the Windows tool's registration they would only run
  // it again.
  void SetUp() override {
    if (e2e::WindowsTool()) GTEST_SKIP() << "runs the Linux tool itself, not the one under test";
  }

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
    e2e::ChildProcess child(ZG_ZIPGRAFT, args, log, env);
    return child.Wait();
  }

  Bytes Output() const { return fs::exists(output) ? testsupport::ReadFile(output) : Bytes(); }
  std::string Log() const {
    const auto bytes = testsupport::ReadFile(log);
    return std::string(bytes.begin(), bytes.end());
  }
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
  // A read-only archive fails the build right after the version update.
  fs::permissions(archive, fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(e2e::RunZipgraft({t.stub, archive, t.output}).exitCode, 1);
  fs::permissions(archive, fs::perms::owner_write, fs::perm_options::add);
  o.updated = testsupport::ReadFile(t.output);
  fs::remove(t.output);
  return o;
}

TEST_F(FaultTest, ADiskThatFillsUpAnywhereLeavesAtMostTheStubCopy) {
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

// Waits until the tool has printed text, which it only can when every line
// reaches the log as it is printed.
bool WaitForLine(const FaultTest& t, const std::string& text) {
  for (int i = 0; i < 4000; ++i) {
    if (fs::exists(t.log) && t.Log().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST_F(FaultTest, InterruptionsAtAnyMomentUndoTheBuild) {
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
    fs::remove(log);  // the last round's lines must not count as this one's
    e2e::ChildProcess child(ZG_ZIPGRAFT, {stub, archive, output}, log);
    ASSERT_TRUE(WaitForLine(*this, moment)) << Log();
    std::this_thread::sleep_for(std::chrono::milliseconds(round * 7 % 40));
    child.Signal(signal);
    if (round % 4 == 3) child.Signal(signal == SIGTERM ? SIGINT : SIGHUP);  // a second one
    const int code = child.Wait();
    const Bytes left = Output();
    EXPECT_FALSE(fs::exists(output + ".tmp"));
    if (left == ref.package) {
      // Too late to interrupt: the package was whole (and verified, or the
      // signal ended the verification).
      EXPECT_TRUE(code == 0 || code == 128 + signal) << code;
    } else {
      EXPECT_EQ(code, 1);
      EXPECT_NE(Log().find("\nERROR: interrupted"), std::string::npos) << Log();
      EXPECT_TRUE(!fs::exists(output) || left == ref.stub || left == ref.updated) << left.size();
      ++undone;
    }
    fs::remove(output);
  }
  EXPECT_GT(undone, kPoints / 4);
}

TEST_F(FaultTest, AStubTooLargeIsRefusedBeforeAnythingIsWritten) {
  const std::string archive = Archive("data.zip", 1000);
  const std::string huge = dir.File("huge.exe");
  { std::ofstream(huge, std::ios::binary) << "MZ"; }
  fs::resize_file(huge, uint64_t{2} << 30);  // sparse
  const auto run = e2e::RunZipgraft({huge, archive, output});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.stdoutText.find("\nERROR: '" + huge + "' is too large to carry a package"),
            std::string::npos)
      << run.stdoutText;
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
    e2e::ChildProcess child(ZG_ZIPGRAFT, {stub, dir.File("hostile.zip"), output}, log);
    EXPECT_EQ(child.Wait(), 1);
    EXPECT_NE(Log().find("\nERROR: unable to load the zip file or locate a package definition"),
              std::string::npos);
#ifndef ZG_SANITIZED  // the sanitizers' own bookkeeping takes memory of its own
    EXPECT_LT(child.PeakKiB(), 256 * 1024);
#endif
    EXPECT_FALSE(fs::exists(output));
  }
}

}  // namespace

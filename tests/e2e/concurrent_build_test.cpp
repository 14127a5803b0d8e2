// Two runs given the same archive: the one rewriting it holds it without
// sharing, and the other is refused at its own rewrite instead of reading an
// archive that is being read for a rewrite. Both leave their inputs as they were.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "e2e_support.h"
#include "tool_process.h"
#include "zip_test_archive.h"

namespace {

namespace fs = std::filesystem;

const char kFailed[] = "\nERROR: package assembly failed\n\n";

TEST(ConcurrentBuild, SecondRunIsRefusedWhileTheFirstRewritesTheArchive) {
  testsupport::TempDir dir;
  const std::string stub = e2e::StubPath("stub64_full");
  // The Linux tool stops itself holding the archive, as it creates its
  // temporary file (the plant shim). The Windows tool is caught holding it
  // from outside, and paused there: its archive is large, so that the
  // rewrite lasts long enough for that.
#ifdef ZG_PLANT_SHIM
  const bool stopsItself = !e2e::WindowsTool();
#else
  const bool stopsItself = false;
#endif
  ziptest::Archive archiveMembers;
  archiveMembers.members = {
      ziptest::Make("SETUP42.xml", e2e::Definition("Shared", "4.2")),
      ziptest::Make("payload.bin",
                    testsupport::Pattern(stopsItself ? std::size_t{1} << 20 : std::size_t{96} << 20))};
  const std::string archive = dir.File("shared.zip");
  testsupport::WriteFile(archive, ziptest::Build(archiveMembers));
  const auto stubDigest = testsupport::FileDigest(stub);
  const auto archiveDigest = testsupport::FileDigest(archive);
  fs::create_directories(dir.File("first"));
  fs::create_directories(dir.File("second"));
  const std::string firstOutput = dir.File("first/SETUP42.exe");
  const std::string secondOutput = dir.File("second/SETUP42.exe");
  const std::string prelude = e2e::BuildPrelude(stub, archive, "Shared", "4.2");
  const std::string modifying = "\n- modifying offsets in the .zip file '" + archive + "'";

  // The second run goes up to its rewrite and waits there, at its next line.
  e2e::ToolProcess second({stub, archive, secondOutput}, e2e::Stdout(prelude).size());
  ASSERT_TRUE(second.Started());
  ASSERT_TRUE(second.ReachesGate());

  // The first run takes the archive for its rewrite and is stopped holding it.
  std::map<std::string, std::string> stopAtTheTemporaryFile;
#ifdef ZG_PLANT_SHIM
  if (stopsItself) {
    stopAtTheTemporaryFile = {{"LD_PRELOAD", ZG_PLANT_SHIM},
                              {"ZG_PLANT_AT", "SETUP42.exe.tmp"},
                              {"ZG_PLANT_KIND", "stop"}};
  }
#endif
  e2e::ToolProcess first({stub, archive, firstOutput}, std::nullopt, stopAtTheTemporaryFile);
  ASSERT_TRUE(first.Started());
  if (stopsItself) {
    ASSERT_TRUE(first.WaitUntilStopped());
  } else {
    ASSERT_TRUE(first.ReadUntil(e2e::Stdout(modifying)));
    ASSERT_TRUE(first.WaitUntilOpen(archive));
    first.Pause();
  }
  ASSERT_TRUE(first.HasOpen(archive)) << "the rewrite ended before it could be paused";

  const e2e::Run refused = second.Finish();
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.stdoutText, e2e::Stdout(prelude + modifying + "\nERROR: unable to open '" +
                                            archive + "'" + kFailed));
  first.Resume();
  const e2e::Run built = first.Finish();
  EXPECT_EQ(built.exitCode, 0);
  EXPECT_EQ(built.stdoutText,
            e2e::Stdout(prelude + modifying + "\n- opening temporary file '" + firstOutput +
                        ".tmp'\n- opening output file '" + firstOutput +
                        "'\n- writing .zip data to '" + firstOutput +
                        "'\n- package assembled.  verifying...\n- package was created "
                        "successfully.\n\n"));

  EXPECT_EQ(testsupport::FileDigest(stub), stubDigest);
  EXPECT_EQ(testsupport::FileDigest(archive), archiveDigest);
  EXPECT_FALSE(fs::exists(firstOutput + ".tmp"));
  EXPECT_FALSE(fs::exists(secondOutput + ".tmp"));
}

}  // namespace

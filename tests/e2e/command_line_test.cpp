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
    EXPECT_EQ(run.stdoutText, e2e::Banner() + kUsage + "\n\n");
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

}  // namespace

#include "app/zipgraft_main.h"

#include <cstdio>
#include <string>

#include "app/build_package.h"
#include "app/command_line.h"
#include "platform/console.h"
#include "platform/text.h"

int RunZipgraft(int argc, const char* const* argv) {
  const CommandLine command = ParseCommandLine(argc, argv);
  if (command.request == Request::Version) return ShowVersion();
  platform::ConsolePrint("\nZIPGRAFT: Tarvel Package Build Tool");
  platform::ConsolePrint("\n-----------------------------------");
  int exitCode = 1;
  if (command.request != Request::Build) {
    exitCode = RunRequest(command);
  } else {
    // Only a fourth argument given alone is the pass string; any argument
    // after the third is otherwise ignored.
    const std::u16string pass = argc - 1 == 4 ? platform::Widen(argv[4]) : std::u16string();
    const BuildOutcome outcome = BuildPackage(argv[1], argv[2], argv[3], pass.c_str());
    if (outcome == BuildOutcome::Failed) platform::ConsolePrint("\nERROR: package assembly failed");
    if (outcome == BuildOutcome::Verified) exitCode = 0;
  }
  platform::ConsolePrint("\n\n");
  std::fflush(stdout);
  return exitCode;
}

#include "app/zipgraft_main.h"

#include <cstdio>
#include <string>

#include "app/build_package.h"
#include "app/package_steps.h"
#include "platform/console.h"
#include "platform/text.h"

int RunZipgraft(int argc, const char* const* argv) {
  platform::ConsolePrint("\nZIPGRAFT: Tarvel Package Build Tool");
  platform::ConsolePrint("\n-----------------------------------");
  int exitCode = 1;
  if (argc - 1 < 3) {
    platform::ConsolePrint("USAGE:\n\n\tzipgraft STUBPROG ZIPDATA OUTPUTFILE [PASS_STRING]\n\n");
  } else {
    // Only a fourth argument given alone is the pass string; any argument
    // after the third is otherwise ignored.
    const std::u16string pass = argc - 1 == 4 ? platform::Widen(argv[4]) : std::u16string();
    const auto verify = [argv] {
      platform::ConsolePrint("\n- package assembled.  verifying...");
      return VerifyPackage(argv[3]);
    };
    const BuildOutcome outcome = BuildPackage(argv[1], argv[2], argv[3], pass.c_str(), verify);
    if (outcome == BuildOutcome::Failed) platform::ConsolePrint("\nERROR: package assembly failed");
    if (outcome == BuildOutcome::Verified) exitCode = 0;
  }
  platform::ConsolePrint("\n\n");
  std::fflush(stdout);
  return exitCode;
}

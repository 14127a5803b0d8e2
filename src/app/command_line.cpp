#include "app/command_line.h"

#include <string_view>

#include "app/verify_package.h"
#include "platform/console.h"

namespace {

constexpr std::string_view kUsage =
    "USAGE:\n\n\tzipgraft STUBPROG ZIPDATA OUTPUTFILE [PASS_STRING]\n\n";

constexpr std::string_view kHelp =
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
    "Exit status: 0 on success, 1 otherwise.";

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  const int count = argc - 1;
  if (count >= 3) return {Request::Build};
  if (count == 1) {
    const std::string_view option = argv[1];
    if (option == "--help" || option == "-h") return {Request::Help};
    if (option == "--version") return {Request::Version};
  }
  if (count == 2 && std::string_view(argv[1]) == "--verify") return {Request::Verify, argv[2]};
  return {Request::Usage};
}

int ShowVersion() {
  platform::ConsolePrint("zipgraft %s\n", {ZIPGRAFT_VERSION});
  return 0;
}

int RunRequest(const CommandLine& command) {
  switch (command.request) {
    case Request::Help:
      platform::ConsoleWrite(kHelp);
      return 0;
    case Request::Verify:
      return VerifyExistingPackage(command.package) ? 0 : 1;
    default:
      platform::ConsoleWrite(kUsage);
      return 1;
  }
}

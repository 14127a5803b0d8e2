#include "app/verify_package.h"

#include <string>
#include <vector>

#include "app/package_steps.h"
#include "check/package_check.h"
#include "platform/console.h"
#include "platform/file_handle.h"

namespace {

// Lines shown per kind; a package damaged all over would otherwise bury the
// verdict.
constexpr std::size_t kShown = 100;
// Authenticode's certificate table is found through a 32-bit file offset.
constexpr uint64_t kLargestSignable = uint64_t{1} << 32;

}  // namespace

std::string FindingLine(const check::Finding& finding) {
  const bool fault = finding.kind == check::Finding::Kind::kFault;
  return platform::FormatText(fault ? "\nERROR: %s (at offset %s)" : "\n- %s (at offset %s)",
                              {finding.what, check::Hex(finding.where)});
}

namespace {

void PrintFindings(const std::vector<check::Finding>& findings) {
  std::size_t faults = 0, notes = 0;
  for (const check::Finding& f : findings) {
    const bool fault = f.kind == check::Finding::Kind::kFault;
    std::size_t& shown = fault ? faults : notes;
    if (shown++ < kShown) platform::ConsoleWrite(FindingLine(f));
  }
  if (faults > kShown) {
    platform::ConsolePrint("\nERROR: %s more faults not shown", {std::to_string(faults - kShown)});
  }
  if (notes > kShown) {
    platform::ConsolePrint("\n- %s more notes not shown", {std::to_string(notes - kShown)});
  }
}

}  // namespace

bool VerifyExistingPackage(const char* path) {
  platform::ConsolePrint("\n- verifying package '%s'", {path});
  platform::FileHandle file;
  bool sound = false;
  uint64_t size = 0;
  if (file.Open(path, platform::Access::Read, platform::Share::Read,
                platform::Disposition::OpenExisting)) {
    const std::vector<check::Finding> findings = check::CheckWholePackage(file);
    PrintFindings(findings);
    size = file.Size().value_or(0);
    // The file checked must be the file loaded.
    const auto identity = file.Identity();
    sound = !check::HasFault(findings) && identity && LoadsAsPackage(path, &*identity);
  }
  if (!sound) {
    platform::ConsolePrint("\nERROR: unable to open and verify '%s'", {path});
    return false;
  }
  platform::ConsolePrint("\n- package is sound.");
  if (size >= kLargestSignable) {
    platform::ConsolePrint(
        "\n- the package is 4 GiB or larger: too large to carry an Authenticode signature");
  }
  return true;
}

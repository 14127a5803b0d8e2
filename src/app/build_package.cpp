#include "app/build_package.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/package_steps.h"
#include "app/step_failure.h"
#include "app/verify_package.h"
#include "bytes/byte_writer.h"
#include "check/package_check.h"
#include "package/tv_pkg.h"
#include "pe/image_file.h"
#include "pe/pe_checksum.h"
#include "platform/console.h"
#include "platform/file_copy.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/interrupt.h"
#include "zip/zip_file.h"

using platform::Access;
using platform::Disposition;
using platform::FileHandle;
using platform::FileIdentity;
using platform::Share;

namespace {

// A PE file's image and its offsets are 32-bit: the stub, and the image it
// becomes, stay below 2 GiB (the archive behind them may take any size).
constexpr uint64_t kLargestPrefix = 0x7FFFFFFFu;

// The name the rewritten archive has until it is appended: formed here only.
std::string TemporaryPath(const char* outputPath) { return std::string(outputPath) + ".tmp"; }

// What a build has made so far, so that a failure or an interruption can
// take it back: the output is left as the (updated) stub copy or removed,
// and the temporary file is removed. Only files the build created are ever
// removed, and only through the handle that created them.
struct Build {
  const char* outputPath = nullptr;
  std::string temporaryPath;
  std::unique_ptr<FileHandle> stub;  // opened once: tested, then copied
  FileHandle output;          // created by the copy, held until the verification
  FileHandle temporary;       // created by the rewrite, held until removed
  std::optional<pe::ImageFile> image;
  std::optional<pe::PeChecksum> checksum;
  uint32_t prefixSize = 0;
  std::optional<FileIdentity> assembled;  // the output once whole

  void Undo();

 private:
  void ReopenOutput();
};

StepResult StopIfInterrupted() {
  if (platform::Interrupted()) return StepFailure{};
  return std::nullopt;
}

// Writing the output over one of the inputs would destroy it, and the
// clean-up after a failure deletes the temporary file: refuse both up front.
StepResult RefuseInputsAsOutputs(const char* stub, const char* archive, const char* output,
                                 const std::string& temporary) {
  for (const std::string& target : {std::string(output), temporary}) {
    if (platform::IsSameFile(target, stub) || platform::IsSameFile(target, archive)) {
      return Failure("\nERROR: '%s' is an input file and cannot be written", {target});
    }
  }
  return std::nullopt;
}

// The stub is opened once, here, and the test and the copy both read that
// file: one renamed over the stub meanwhile is neither. One that cannot be
// opened fails at its copy, where the line for it is printed.
StepResult TestHeldStub(Build& build, const char* stubPath) {
  build.stub = std::make_unique<FileHandle>();
  build.stub->Open(stubPath, Access::Read, Share::Read, Disposition::OpenExisting);
  return TestStub(*build.stub, stubPath);
}

// Copies the stub to a new output file, which the build holds from here on
// (for reading as well: the build's check reads what it wrote); the copy's
// bytes become the output's image.
StepResult CopyStub(Build& build, const char* stubPath) {
  platform::ConsolePrint("\n- copying stub from '%s'", {stubPath});
  const char* outputPath = build.outputPath;
  const StepFailure unable =
      Failure("\nERROR: unable to copy '%s' to '%s'", {stubPath, outputPath});
  if (!build.stub || !build.stub->IsOpen()) return unable;
  if (build.stub->Size().value_or(0) > kLargestPrefix) {
    return Failure("\nERROR: '%s' is too large to carry a package", {stubPath});
  }
  // Only the image is held; what follows it is copied from the stub.
  auto image = pe::ImageFile::Read(std::move(build.stub), build.output, nullptr);
  if (!image || !build.output.Open(outputPath, Access::ReadWrite, Share::None,
                                   Disposition::CreateAlways)) {
    return unable;
  }
  build.image.emplace(std::move(*image));
  if (!build.image->Write(nullptr) ||
      !platform::CopyPermissions(build.image->Source(), build.output)) {
    build.image.reset();
    build.output.Remove(outputPath);
    return unable;
  }
  return std::nullopt;
}

// The size the output has once its resource has been rewritten: where the
// archive will begin.
StepResult MeasurePrefix(Build& build) {
  const uint64_t size = build.image->FileSize();
  if (size > kLargestPrefix) {
    return Failure("\nERROR: '%s' is too large to carry a package", {build.outputPath});
  }
  build.prefixSize = static_cast<uint32_t>(size);
  return std::nullopt;
}

// An image that carries a checksum gets one that holds over the whole
// package: summed over the image now and over the archive as it is written.
StepResult StartChecksum(Build& build) {
  const pe::PeImage* headers = build.image->Headers(nullptr);
  if (headers == nullptr || headers->checkSum == 0) return std::nullopt;
  // Summed as the image was written.
  build.checksum = build.image->Checksum();
  if (!build.checksum) return Failure("\nERROR: unable to write '%s'", {build.outputPath});
  return std::nullopt;
}

// Writes the archive, laid out behind the prefix, to a new temporary file
// that the build holds from here on. The archive must still be the file the
// definition came from: one renamed over it meanwhile would give the package
// another archive's members under the first one's version resource.
StepResult RewriteArchive(Build& build, const char* archivePath, const TVPkg& definition) {
  platform::ConsolePrint("\n- modifying offsets in the .zip file '%s'", {archivePath});
  trvzip::ZIP_File archive;
  if (archive.Open(archivePath, false) != trvzip::kZipOk) {
    return Failure("\nERROR: unable to open '%s'", {archivePath});
  }
  const auto stamp = archive.Stamp();
  if (!stamp || stamp != definition.GetArchiveStamp()) {
    return Failure("\nERROR: '%s' changed during the build", {archivePath});
  }
  // An archive behind other bytes (a self-extractor's program, say) gives
  // the package its members; the stub takes the place of those bytes.
  if (archive.HasPrefix()) {
    platform::ConsolePrint("\n- leaving out the %s bytes in front of the archive",
                           {std::to_string(archive.GetPrefixSize())});
    archive.LeaveOutPrefix();
  }
  archive.SetPrefixSize(build.prefixSize);
  if (build.checksum) {
    archive.SetWriteObserver(
        [&build](std::span<const uint8_t> bytes) { build.checksum->Add(bytes); });
  }
  // Read and written: the append cuts it down as it copies it.
  if (!build.temporary.Open(build.temporaryPath, Access::ReadWrite, Share::None,
                            Disposition::CreateAlways) ||
      archive.Save(build.temporary) != trvzip::kZipOk) {
    return Failure("\nERROR: unable to save and update '%s'", {build.temporaryPath});
  }
  return std::nullopt;
}

// Both files have been held since they were created, and nobody else can
// have them: neither is opened again by name.
StepResult OpenForAppend(const Build& build) {
  platform::ConsolePrint("\n- opening temporary file '%s'", {build.temporaryPath});
  platform::ConsolePrint("\n- opening output file '%s'", {build.outputPath});
  return std::nullopt;
}

// Copies the whole temporary file behind the end of the output, consuming it
// as it goes. A failed read or write keeps its line even when interrupted, so
// a damaged package is never reported as built; an interruption alone gets
// its line once the build has been undone.
StepResult AppendArchive(Build& build) {
  platform::ConsolePrint("\n- writing .zip data to '%s'", {build.outputPath});
  StepFailure failure{{}, true};
  switch (platform::AppendConsuming(build.temporary, build.output)) {
    case platform::CopyResult::Done:
      return std::nullopt;
    case platform::CopyResult::ReadFailed:
      failure.lines.push_back(
          platform::FormatText("\nERROR: unable to read '%s'", {build.temporaryPath}));
      break;
    case platform::CopyResult::WriteFailed:
      failure.lines.push_back(
          platform::FormatText("\nERROR: unable to write '%s'", {build.outputPath}));
      break;
    case platform::CopyResult::Interrupted:
      break;
  }
  return failure;
}

// The checksum of the whole package as its header field holds it.
std::array<uint8_t, 4> ChecksumField(const Build& build) {
  std::array<uint8_t, 4> field{};
  bytes::StoreU32<0>(std::span(field), build.checksum->Value());
  return field;
}

StepResult StoreChecksum(Build& build) {
  if (!build.checksum) return std::nullopt;
  const auto field = ChecksumField(build);
  if (build.checksum->Length() != build.output.Size().value_or(0) ||
      !build.output.WriteAt(build.image->Headers(nullptr)->at.checkSum, field.data(),
                            field.size())) {
    return Failure("\nERROR: unable to write '%s'", {build.outputPath});
  }
  return std::nullopt;
}

StepResult RemoveTemporary(Build& build) {
  build.temporary.Remove(build.temporaryPath);
  return std::nullopt;
}

// The identity of the output as assembled, to tell it again when the
// verification has opened it by name, or fails.
StepResult NoteAssembled(Build& build) {
  build.assembled = build.output.Identity();
  if (!build.assembled) return Failure("\nERROR: unable to write '%s'", {build.outputPath});
  return std::nullopt;
}

// The steps in their order, up to the assembled output; the first failure
// ends them.
StepResult RunSteps(Build& build, const char* stubPath, const char* archivePath,
                    const char16_t* passString) {
  const char* outputPath = build.outputPath;
  TVPkg definition;
  const std::function<StepResult()> steps[] = {
      [&] { return RefuseInputsAsOutputs(stubPath, archivePath, outputPath, build.temporaryPath); },
      [&] { return TestHeldStub(build, stubPath); },
      [&] { return LoadDefinition(definition, archivePath, outputPath); },
      StopIfInterrupted,
      [&] { return CopyStub(build, stubPath); },
      [&] { return UpdateOutputVersion(definition, *build.image, outputPath, passString); },
      StopIfInterrupted,
      [&] { return MeasurePrefix(build); },
      [&] { return StartChecksum(build); },
      [&] { return RewriteArchive(build, archivePath, definition); },
      [&] { return OpenForAppend(build); },
      [&] { return AppendArchive(build); },
      StopIfInterrupted,
      [&] { return StoreChecksum(build); },
      [&] { return RemoveTemporary(build); },
      [&] { return NoteAssembled(build); },
  };
  for (const auto& step : steps) {
    if (StepResult failed = step()) return failed;
  }
  return std::nullopt;
}

// Opened again only as the file it was, never through a link: whatever else
// took the name is not this build's to touch.
void Build::ReopenOutput() {
  if (output.Open(outputPath, Access::ReadWrite, Share::None, Disposition::OpenOwn) &&
      output.Identity() != assembled) {
    output.Close();
  }
}

void Build::Undo() {
  if (temporary.IsOpen()) temporary.Remove(temporaryPath);
  if (assembled && !output.IsOpen()) ReopenOutput();
  if (!output.IsOpen()) return;
  // Back to the stub copy, with the version update if it was written (and
  // its own checksum); an output that cannot be brought back is not left
  // behind at all.
  bool restored = image && !image->Damaged() && output.Truncate(image->FileSize());
  if (restored && checksum) {
    const uint32_t at = image->Headers(nullptr)->at.checkSum;
    restored = output.WriteAt(at, image->Bytes().data() + at, 4);
  }
  if (restored) {
    output.Close();
  } else {
    output.Remove(outputPath);
  }
}

// The headers the update planned, as the output must hold them: the
// image's own, with the checksum of the whole package where it was stored.
std::vector<uint8_t> PlannedHeaders(const Build& build) {
  const auto bytes = build.image->Bytes();
  const pe::PeImage* headers = build.image->Headers(nullptr);
  const std::size_t size = std::min<std::size_t>(headers->sizeOfHeaders, bytes.size());
  std::vector<uint8_t> planned(bytes.begin(), bytes.begin() + size);
  const uint32_t at = headers->at.checkSum;
  if (build.checksum && at + 4 <= planned.size()) {
    const auto field = ChecksumField(build);
    std::copy(field.begin(), field.end(), planned.begin() + at);
  }
  return planned;
}

// What the build wrote, read back through the handle it holds: every
// member's local header where the directory says and agreeing with it, the
// end record, and the image headers the update planned. The member data is
// not read again: it was copied byte for byte.
StepResult CheckWritten(const Build& build) {
  const check::Plan plan{PlannedHeaders(build), build.prefixSize};
  const std::vector<check::Finding> findings = check::CheckWrittenPackage(build.output, plan);
  if (!check::HasFault(findings)) return std::nullopt;
  std::vector<std::string> lines;
  for (const check::Finding& finding : findings) {
    if (finding.kind == check::Finding::Kind::kFault) lines.push_back(FindingLine(finding));
  }
  return VerificationFailure(build.outputPath, std::move(lines));
}

// The one place a failure is told: its lines (unless an interruption caused
// it, which gets its own line once the build has been undone), then the undo.
void Report(Build& build, const StepFailure& failure, bool interruptible) {
  const bool interrupted = interruptible && platform::Interrupted();
  if (!interrupted || failure.evenIfInterrupted) {
    for (const std::string& line : failure.lines) platform::ConsoleWrite(line);
  }
  if (failure.beep) platform::Beep(440, 250);
  build.Undo();
  if (interrupted) platform::ConsolePrint("\nERROR: interrupted");
}

}  // namespace

BuildOutcome BuildPackage(const char* stubPath, const char* archivePath, const char* outputPath,
                          const char16_t* passString) {
  platform::InterruptGuard guard;
  Build build;
  StepResult failed = StepFailure{};
  try {
    if (stubPath != nullptr && archivePath != nullptr && outputPath != nullptr) {
      build.outputPath = outputPath;
      build.temporaryPath = TemporaryPath(outputPath);
      failed = RunSteps(build, stubPath, archivePath, passString);
    }
  } catch (...) {
    failed = StepFailure{};
  }
  if (failed) {
    Report(build, *failed, true);
    return BuildOutcome::Failed;
  }
  // A package that does not load is not left behind either. The output is
  // let go once checked, so that the verification can open it by name.
  platform::ConsolePrint("\n- package assembled.  verifying...");
  try {
    failed = CheckWritten(build);
  } catch (...) {
    failed = VerificationFailure(outputPath);
  }
  if (!failed) {
    build.output.Close();
    failed = VerifyPackage(outputPath, *build.assembled);
  }
  if (!failed) return BuildOutcome::Verified;
  Report(build, *failed, false);
  return BuildOutcome::Unverified;
}

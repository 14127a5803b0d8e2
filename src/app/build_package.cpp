#include "app/build_package.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/package_steps.h"
#include "bytes/byte_writer.h"
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

// The appended archive's offsets are 32-bit and its members must still lie
// in the first 4 GiB: the stub, and the image it becomes, stay below 2 GiB.
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
  FileHandle output;          // created by the copy, held until the verification
  FileHandle temporary;       // created by the rewrite, held until removed
  std::optional<pe::ImageFile> image;
  std::optional<pe::PeChecksum> checksum;
  std::optional<FileIdentity> assembled;  // the output, closed for the verification

  void ReleaseOutput();
  void Undo();

 private:
  void ReopenOutput();
};

// A failed step's line, unless the failure came from an interruption, which
// gets its own line once the build has been undone.
[[noreturn]] void Fail(std::string_view format = {},
                       std::initializer_list<std::string_view> args = {}) {
  if (!format.empty() && !platform::Interrupted()) platform::ConsolePrint(format, args);
  throw 1;
}

void StopIfInterrupted() {
  if (platform::Interrupted()) Fail();
}

// Writing the output over one of the inputs would destroy it, and the
// clean-up after a failure deletes the temporary file: refuse both up front.
void RefuseInputsAsOutputs(const char* stub, const char* archive, const char* output,
                           const std::string& temporary) {
  for (const std::string& target : {std::string(output), temporary}) {
    if (platform::IsSameFile(target, stub) || platform::IsSameFile(target, archive)) {
      Fail("\nERROR: '%s' is an input file and cannot be written", {target});
    }
  }
}

// Copies the stub to a new output file, which the build holds from here on;
// the copy's bytes become the output's image.
void CopyStub(Build& build, const char* stubPath) {
  platform::ConsolePrint("\n- copying stub from '%s'", {stubPath});
  const char* outputPath = build.outputPath;
  auto stub = std::make_unique<FileHandle>();
  if (!stub->Open(stubPath, Access::Read, Share::Read, Disposition::OpenExisting)) {
    Fail("\nERROR: unable to copy '%s' to '%s'", {stubPath, outputPath});
  }
  if (stub->Size().value_or(0) > kLargestPrefix) {
    Fail("\nERROR: '%s' is too large to carry a package", {stubPath});
  }
  // Only the image is held; what follows it is copied from the stub.
  auto image = pe::ImageFile::Read(std::move(stub), build.output, nullptr);
  if (!image || !build.output.Open(outputPath, Access::Write, Share::None,
                                   Disposition::CreateAlways)) {
    Fail("\nERROR: unable to copy '%s' to '%s'", {stubPath, outputPath});
  }
  build.image.emplace(std::move(*image));
  if (!build.image->Write(nullptr) ||
      !platform::CopyPermissions(build.image->Source(), build.output)) {
    build.image.reset();
    build.output.Remove(outputPath);
    Fail("\nERROR: unable to copy '%s' to '%s'", {stubPath, outputPath});
  }
}

// The size the output has once its resource has been rewritten: where the
// archive will begin.
uint32_t PrefixSize(const Build& build) {
  const uint64_t size = build.image->FileSize();
  if (size > kLargestPrefix) {
    Fail("\nERROR: '%s' is too large to carry a package", {build.outputPath});
  }
  return static_cast<uint32_t>(size);
}

// An image that carries a checksum gets one that holds over the whole
// package: summed over the image now and over the archive as it is written.
void StartChecksum(Build& build) {
  const pe::PeImage* headers = build.image->Headers(nullptr);
  if (headers == nullptr || headers->checkSum == 0) return;
  // Summed as the image was written.
  build.checksum = build.image->Checksum();
  if (!build.checksum) Fail("\nERROR: unable to write '%s'", {build.outputPath});
}

// Writes the archive, laid out behind prefixSize bytes, to a new temporary
// file that the build holds from here on. The archive must still be the file
// the definition came from: one renamed over it meanwhile would give the
// package another archive's members under the first one's version resource.
void RewriteArchive(Build& build, const char* archivePath, const TVPkg& definition,
                    uint32_t prefixSize) {
  platform::ConsolePrint("\n- modifying offsets in the .zip file '%s'", {archivePath});
  trvzip::ZIP_File archive;
  if (archive.Open(archivePath, false) != trvzip::kZipOk) {
    Fail("\nERROR: unable to open '%s'", {archivePath});
  }
  const auto stamp = archive.Stamp();
  if (!stamp || stamp != definition.GetArchiveStamp()) {
    Fail("\nERROR: '%s' changed during the build", {archivePath});
  }
  // An archive behind other bytes (a self-extractor's program, say) gives
  // the package its members; the stub takes the place of those bytes.
  if (archive.HasPrefix()) {
    platform::ConsolePrint("\n- leaving out the %s bytes in front of the archive",
                           {std::to_string(archive.GetPrefixSize())});
    archive.LeaveOutPrefix();
  }
  archive.SetPrefixSize(prefixSize);
  if (build.checksum) {
    archive.SetWriteObserver([&build](std::span<const uint8_t> bytes) { build.checksum->Add(bytes); });
  }
  // Read and written: the append cuts it down as it copies it.
  if (!build.temporary.Open(build.temporaryPath, Access::ReadWrite, Share::None,
                            Disposition::CreateAlways) ||
      archive.Save(build.temporary) != trvzip::kZipOk) {
    Fail("\nERROR: unable to save and update '%s'", {build.temporaryPath});
  }
}

// Both files have been held since they were created, and nobody else can
// have them: neither is opened again by name.
void OpenForAppend(const Build& build) {
  platform::ConsolePrint("\n- opening temporary file '%s'", {build.temporaryPath});
  platform::ConsolePrint("\n- opening output file '%s'", {build.outputPath});
}

// Copies the whole temporary file behind the end of the output, consuming it
// as it goes. A failed read or write gets its line even when interrupted, so
// a damaged package is never reported as built; an interruption alone gets
// its line once the build has been undone.
void AppendArchive(Build& build) {
  platform::ConsolePrint("\n- writing .zip data to '%s'", {build.outputPath});
  switch (platform::AppendConsuming(build.temporary, build.output)) {
    case platform::CopyResult::Done:
      return;
    case platform::CopyResult::ReadFailed:
      platform::ConsolePrint("\nERROR: unable to read '%s'", {build.temporaryPath});
      break;
    case platform::CopyResult::WriteFailed:
      platform::ConsolePrint("\nERROR: unable to write '%s'", {build.outputPath});
      break;
    case platform::CopyResult::Interrupted:
      break;
  }
  throw 1;
}

void StoreChecksum(Build& build) {
  if (!build.checksum) return;
  uint8_t field[4];
  bytes::StoreU32<0>(std::span(field), build.checksum->Value());
  if (build.checksum->Length() != build.output.Size().value_or(0) ||
      !build.output.WriteAt(build.image->Headers(nullptr)->at.checkSum, field, sizeof field)) {
    Fail("\nERROR: unable to write '%s'", {build.outputPath});
  }
}

// The output is let go so that the verification can open it by name; its
// identity is kept to tell it again if the verification fails.
void Build::ReleaseOutput() {
  assembled = output.Identity();
  if (!assembled) Fail("\nERROR: unable to write '%s'", {outputPath});
  output.Close();
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

}  // namespace

BuildOutcome BuildPackage(const char* stubPath, const char* archivePath, const char* outputPath,
                          const char16_t* passString, const Verification& verify) {
  platform::InterruptGuard guard;
  Build build;
  try {
    if (stubPath == nullptr || archivePath == nullptr || outputPath == nullptr) Fail();
    build.outputPath = outputPath;
    build.temporaryPath = TemporaryPath(outputPath);
    RefuseInputsAsOutputs(stubPath, archivePath, outputPath, build.temporaryPath);
    TestStub(stubPath);
    TVPkg definition;
    LoadDefinition(definition, archivePath, outputPath);
    StopIfInterrupted();
    CopyStub(build, stubPath);
    UpdateOutputVersion(definition, *build.image, outputPath, passString);
    StopIfInterrupted();
    const uint32_t prefixSize = PrefixSize(build);
    StartChecksum(build);
    RewriteArchive(build, archivePath, definition, prefixSize);
    OpenForAppend(build);
    AppendArchive(build);
    StopIfInterrupted();
    StoreChecksum(build);
    build.temporary.Remove(build.temporaryPath);
    build.ReleaseOutput();
  } catch (...) {
    build.Undo();
    if (platform::Interrupted()) platform::ConsolePrint("\nERROR: interrupted");
    return BuildOutcome::Failed;
  }
  // A package that does not load is not left behind either.
  if (verify(*build.assembled)) return BuildOutcome::Verified;
  build.Undo();
  return BuildOutcome::Unverified;
}

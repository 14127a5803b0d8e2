#include "app/build_package.h"

#include <cstdint>
#include <memory>
#include <optional>
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
using platform::Share;

namespace {

// The appended archive's offsets are 32-bit and its members must still lie
// in the first 4 GiB: the stub, and the image it becomes, stay below 2 GiB.
constexpr uint64_t kLargestPrefix = 0x7FFFFFFFu;

// What a build has made so far, so that a failure or an interruption can
// take it back: the output is left as the (updated) stub copy or removed,
// and the temporary file is removed.
struct Build {
  const char* outputPath = nullptr;
  FileHandle output;          // created by the copy, held until the end
  FileHandle temporary;
  std::optional<pe::ImageFile> image;
  std::optional<std::string> temporaryPath;
  std::optional<pe::PeChecksum> checksum;

  void Undo();
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
    build.output.Close();
    platform::DeleteFileQuietly(outputPath);
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

// Writes the archive, laid out behind prefixSize bytes, to the temporary file.
// The temporary path is formed only once the archive is open, so a failure
// before that never deletes a file of that name.
void RewriteArchive(Build& build, const char* archivePath, uint32_t prefixSize) {
  platform::ConsolePrint("\n- modifying offsets in the .zip file '%s'", {archivePath});
  trvzip::ZIP_File archive;
  if (archive.Open(archivePath, false) != trvzip::kZipOk) {
    Fail("\nERROR: unable to open '%s'", {archivePath});
  }
  build.temporaryPath = std::string(build.outputPath) + ".tmp";
  archive.SetPrefixSize(prefixSize);
  if (build.checksum) {
    archive.SetWriteObserver([&build](std::span<const uint8_t> bytes) { build.checksum->Add(bytes); });
  }
  if (archive.Save(*build.temporaryPath, false) != trvzip::kZipOk) {
    Fail("\nERROR: unable to save and update '%s'", {*build.temporaryPath});
  }
}

void OpenForAppend(Build& build) {
  const std::string& temporaryPath = *build.temporaryPath;
  platform::ConsolePrint("\n- opening temporary file '%s'", {temporaryPath});
  // Open for writing as well: the append cuts it down as it copies it.
  if (!build.temporary.Open(temporaryPath, Access::ReadWrite, Share::None,
                            Disposition::OpenExisting)) {
    Fail("\nERROR: unable to open '%s'", {temporaryPath});
  }
  // The output has been held since the copy; nobody else can have it.
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
      platform::ConsolePrint("\nERROR: unable to read '%s'", {*build.temporaryPath});
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
  bytes::ByteWriter(field).U32(build.checksum->Value());
  if (build.checksum->Length() != build.output.Size().value_or(0) ||
      !build.output.WriteAt(build.image->Headers(nullptr)->at.checkSum, field, sizeof field)) {
    Fail("\nERROR: unable to write '%s'", {build.outputPath});
  }
}

void Build::Undo() {
  temporary.Close();
  if (temporaryPath) platform::DeleteFileQuietly(*temporaryPath);
  if (!output.IsOpen()) return;
  // Back to the stub copy, with the version update if it was written (and
  // its own checksum); an output that cannot be brought back is not left
  // behind at all.
  bool restored = image && !image->Damaged() && output.Truncate(image->FileSize());
  if (restored && checksum) {
    const uint32_t at = image->Headers(nullptr)->at.checkSum;
    restored = output.WriteAt(at, image->Bytes().data() + at, 4);
  }
  output.Close();
  if (!restored) platform::DeleteFileQuietly(outputPath);
}

}  // namespace

bool BuildPackage(const char* stubPath, const char* archivePath, const char* outputPath,
                  const char16_t* passString) {
  platform::InterruptGuard guard;
  Build build;
  build.outputPath = outputPath;
  try {
    if (stubPath == nullptr || archivePath == nullptr || outputPath == nullptr) Fail();
    RefuseInputsAsOutputs(stubPath, archivePath, outputPath, std::string(outputPath) + ".tmp");
    TestStub(stubPath);
    TVPkg definition;
    LoadDefinition(definition, archivePath, outputPath);
    StopIfInterrupted();
    CopyStub(build, stubPath);
    UpdateOutputVersion(definition, *build.image, outputPath, passString);
    StopIfInterrupted();
    const uint32_t prefixSize = PrefixSize(build);
    StartChecksum(build);
    RewriteArchive(build, archivePath, prefixSize);
    OpenForAppend(build);
    AppendArchive(build);
    StopIfInterrupted();
    StoreChecksum(build);
    build.temporary.Close();
    platform::DeleteFileQuietly(*build.temporaryPath);
    return true;
  } catch (...) {
    build.Undo();
    if (platform::Interrupted()) platform::ConsolePrint("\nERROR: interrupted");
    return false;
  }
}

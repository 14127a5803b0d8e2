#include "app/build_package.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "app/archive_append.h"
#include "app/package_steps.h"
#include "package/tv_pkg.h"
#include "platform/console.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "zip/zip_file.h"

using platform::Access;
using platform::Disposition;
using platform::FileHandle;
using platform::Share;

namespace {

// The offsets of the appended archive are 32-bit and every seek of the
// archive reader is a signed 32-bit distance: the stub must stay below that.
constexpr uint64_t kLargestPrefix = 0x7FFFFFFFu;

[[noreturn]] void Fail() { throw 1; }

// Writing the output over one of the inputs would destroy it, and the
// clean-up after a failure deletes the temporary file: refuse both up front.
void RefuseInputsAsOutputs(const char* stub, const char* archive, const char* output,
                           const std::string& temporary) {
  for (const std::string& target : {std::string(output), temporary}) {
    if (platform::IsSameFile(target, stub) || platform::IsSameFile(target, archive)) {
      platform::ConsolePrint("\nERROR: '%s' is an input file and cannot be written",
                             {target});
      Fail();
    }
  }
}

// Copies the stub to the output, replacing whatever had the output's name.
bool CopyStub(const char* stubPath, const char* outputPath) {
  FileHandle stub;
  if (!stub.Open(stubPath, Access::Read, Share::Read, Disposition::OpenExisting)) return false;
  const auto size = stub.Size();
  if (!size || *size > kLargestPrefix) return false;
  std::vector<uint8_t> bytes(static_cast<std::size_t>(*size));
  const auto got = stub.Read(bytes.data(), bytes.size());
  if (!got || *got != bytes.size()) return false;
  FileHandle output;
  if (!output.Open(outputPath, Access::Write, Share::None, Disposition::CreateAlways)) return false;
  if (output.Write(bytes.data(), bytes.size()) && platform::CopyPermissions(stub, output)) return true;
  output.Close();
  platform::DeleteFileQuietly(outputPath);
  return false;
}

uint32_t MeasureOutput(const char* outputPath) {
  FileHandle output;
  std::optional<uint64_t> size;
  if (output.Open(outputPath, Access::Read, Share::Read, Disposition::OpenExisting))
    size = output.Size();
  if (!size) {
    platform::ConsolePrint("\nERROR: unable to open '%s'", {outputPath});
    Fail();
  }
  if (*size > kLargestPrefix) {
    platform::ConsolePrint("\nERROR: '%s' is too large to carry a package", {outputPath});
    Fail();
  }
  return static_cast<uint32_t>(*size);
}

// Writes the archive, laid out behind prefixSize bytes, to the temporary file.
// The temporary path is formed only once the archive is open, so a failure
// before that never deletes a file of that name.
void RewriteArchive(trvzip::ZIP_File& archive, const char* archivePath, uint32_t prefixSize,
                    const char* outputPath, std::optional<std::string>& temporaryPath) {
  platform::ConsolePrint("\n- modifying offsets in the .zip file '%s'", {archivePath});
  if (archive.Open(archivePath, false) != 0) {
    platform::ConsolePrint("\nERROR: unable to open '%s'", {archivePath});
    Fail();
  }
  temporaryPath = std::string(outputPath) + ".tmp";
  archive.SetPrefixSize(prefixSize);
  if (archive.Save(*temporaryPath, false) != 0) {
    platform::ConsolePrint("\nERROR: unable to save and update '%s'", {*temporaryPath});
    Fail();
  }
}

void OpenForAppend(FileHandle& temporary, FileHandle& output, const std::string& temporaryPath,
                   const char* outputPath) {
  platform::ConsolePrint("\n- opening temporary file '%s'", {temporaryPath});
  if (!temporary.Open(temporaryPath, Access::Read, Share::None, Disposition::OpenExisting)) {
    platform::ConsolePrint("\nERROR: unable to open '%s'", {temporaryPath});
    Fail();
  }
  platform::ConsolePrint("\n- opening output file '%s'", {outputPath});
  if (!output.Open(outputPath, Access::Write, Share::None, Disposition::OpenExisting) ||
      !output.SeekToEnd()) {
    platform::ConsolePrint("\nERROR: unable to open '%s'", {outputPath});
    Fail();
  }
}

}  // namespace

bool BuildPackage(const char* stubPath, const char* archivePath, const char* outputPath,
                  const char16_t* passString) {
  FileHandle temporary;
  FileHandle output;
  std::optional<std::string> temporaryPath;
  try {
    if (stubPath == nullptr || archivePath == nullptr || outputPath == nullptr) Fail();
    RefuseInputsAsOutputs(stubPath, archivePath, outputPath, std::string(outputPath) + ".tmp");

    TVPkg probe;
    TestStub(probe, stubPath);
    TVPkg definition;
    LoadDefinition(definition, archivePath, outputPath);

    platform::ConsolePrint("\n- copying stub from '%s'", {stubPath});
    if (!CopyStub(stubPath, outputPath)) {
      platform::ConsolePrint("\nERROR: unable to copy '%s' to '%s'", {stubPath, outputPath});
      Fail();
    }
    UpdateOutputVersion(definition, outputPath, passString);
    const uint32_t prefixSize = MeasureOutput(outputPath);

    trvzip::ZIP_File archive;
    RewriteArchive(archive, archivePath, prefixSize, outputPath, temporaryPath);

    OpenForAppend(temporary, output, *temporaryPath, outputPath);
    AppendArchive(temporary, output, *temporaryPath, outputPath);

    temporary.Close();
    output.Close();
    platform::DeleteFileQuietly(*temporaryPath);
    return true;
  } catch (...) {
    temporary.Close();
    output.Close();
    if (temporaryPath) platform::DeleteFileQuietly(*temporaryPath);
    return false;
  }
}

// The whole check of a package, as `--verify` runs it. The input is a package
// file (an image with an archive behind it, or an archive alone). Whatever
// the bytes, the check ends with findings; and when it finds no fault, the
// archive layer opens the file and every member the check read extracts.

#include <cstdint>
#include <string>
#include <vector>

#include "check/package_check.h"
#include "fuzz_support.h"
#include "zip/zip_file.h"
#include "zip/zip_methods.h"

namespace {

// Members declaring more are skipped, as the archive target does.
constexpr uint32_t kMaxExtracted = 4u << 20;

bool Extractable(const trvzip::ZIP_FileEntry& e) {
  return trvzip::IsExtractableMethod(e.method) && (e.flags & trvzip::records::kFlagEncrypted) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string input = fuzzsupport::ScratchFile("package.exe");
  fuzzsupport::WriteWholeFile(input, {data, size});
  platform::FileHandle file;
  FUZZ_CHECK(file.Open(input, platform::Access::Read, platform::Share::Read,
                       platform::Disposition::OpenExisting));
  const auto findings = check::CheckWholePackage(file);
  for (const check::Finding& f : findings) FUZZ_CHECK(!f.what.empty());
  if (check::HasFault(findings)) return 0;
  file.Close();
  trvzip::ZIP_File archive;
  const int opened = archive.Open(input, true);
  FUZZ_CHECK(opened == trvzip::kZipOk);
  for (trvzip::ZIP_FileEntry* entry : archive.Entries()) {
    if (!Extractable(*entry) || entry->uncompressedSize > kMaxExtracted) continue;
    std::vector<uint8_t> buffer(entry->uncompressedSize + 1);
    FUZZ_CHECK(entry->Extract(buffer.data(), entry->uncompressedSize) == trvzip::kZipOk);
  }
  return 0;
}

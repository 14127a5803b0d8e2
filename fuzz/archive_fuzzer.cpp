// The archive layer as the tool drives it. The input is an archive file: it is
// opened for rewriting, every member is looked up by its name and extracted,
// the archive is saved behind a prefix the way a package lays it out, and the
// result must open again with the same members.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/text.h"
#include "zip/zip_file.h"

namespace {

using fuzzsupport::ScratchFile;
using trvzip::ZIP_File;
using trvzip::ZIP_FileEntry;

// Members declaring more are skipped: the package layer never reads them.
constexpr uint32_t kMaxExtracted = 4u << 20;
constexpr uint32_t kPieceSize = 1021;

std::string_view NameOf(const ZIP_FileEntry& e) { return {e.GetName(), e.GetNameLength()}; }

// A name that converts from the locale's charset must find a member of that
// name (the first such, in directory order).
void CheckLookUp(ZIP_File& archive, const ZIP_FileEntry& entry) {
  if (entry.GetName() == nullptr) return;
  const auto wide = platform::CodePageToWide(NameOf(entry), platform::kCodePageThreadAnsi);
  if (!wide) {
    archive.FindEntry(platform::Widen(NameOf(entry)).c_str());
    return;
  }
  const ZIP_FileEntry* found = archive.FindEntry(wide->c_str());
  FUZZ_CHECK(found != nullptr);
  FUZZ_CHECK(platform::EqualsNoCaseAscii(NameOf(*found), NameOf(entry)));
}

// Reads the member in pieces through OpenRead / ReadData / CloseRead.
std::vector<uint8_t> ReadInPieces(ZIP_FileEntry& entry) {
  std::vector<uint8_t> out;
  trvzip::ZipReadState state;
  if (entry.OpenRead(&state) != trvzip::kZipOk) return out;
  std::vector<uint8_t> piece(kPieceSize);
  while (out.size() < entry.uncompressedSize) {
    uint32_t produced = 0;
    const int r = entry.ReadData(piece.data(), kPieceSize, &state, &produced);
    out.insert(out.end(), piece.begin(), piece.begin() + produced);
    if (r != trvzip::kZipOk || produced == 0) break;
  }
  entry.CloseRead(&state);
  return out;
}

// A member that extracts whole reads the same in pieces, and a smaller
// buffer receives its first bytes.
void CheckExtract(ZIP_FileEntry& entry) {
  if (entry.uncompressedSize > kMaxExtracted) return;
  const auto size = static_cast<uint32_t>(entry.uncompressedSize);
  std::vector<uint8_t> whole(size + 1);  // never without storage
  if (entry.Extract(whole.data(), size) != trvzip::kZipOk) return;
  whole.resize(size);
  FUZZ_CHECK(ReadInPieces(entry) == whole);
  const uint32_t half = size / 2;
  if (half == 0) return;
  std::vector<uint8_t> front(half);
  FUZZ_CHECK(entry.Extract(front.data(), half) == trvzip::kZipOk);
  FUZZ_CHECK(std::memcmp(front.data(), whole.data(), half) == 0);
}

struct Kept {
  std::string name;
  uint32_t crc;
  uint64_t compressedSize, uncompressedSize;
  uint32_t method;
};

std::vector<Kept> Describe(const ZIP_File& archive) {
  std::vector<Kept> members;
  for (const ZIP_FileEntry* e : archive.Entries()) {
    members.push_back({e->GetName() ? std::string(NameOf(*e)) : std::string(), e->crc32,
                       e->compressedSize, e->uncompressedSize, e->method});
  }
  return members;
}

bool operator==(const Kept& a, const Kept& b) {
  return a.name == b.name && a.crc == b.crc && a.compressedSize == b.compressedSize &&
         a.uncompressedSize == b.uncompressedSize && a.method == b.method;
}

// Saves the archive laid out behind prefix bytes, puts those bytes in front
// when the archive brought none of its own, and opens the result.
void CheckSaveAndReopen(ZIP_File& archive, uint64_t prefix) {
  const std::vector<Kept> before = Describe(archive);
  const bool ownPrefix = archive.HasPrefix();
  archive.SetPrefixSize(prefix);
  uint64_t observed = 0;
  archive.SetWriteObserver([&observed](std::span<const uint8_t> bytes) { observed += bytes.size(); });
  const std::string saved = ScratchFile("saved.zip");
  if (archive.Save(saved, false) != trvzip::kZipOk) return;
  FUZZ_CHECK(!archive.IsOpen());
  std::vector<uint8_t> file = fuzzsupport::ReadWholeFile(saved);
  FUZZ_CHECK(file.size() == observed);
  if (!ownPrefix) {
    file.insert(file.begin(), prefix, 0);
    fuzzsupport::WriteWholeFile(saved, file);
  }
  ZIP_File again;
  FUZZ_CHECK(again.Open(saved, true) == trvzip::kZipOk);
  FUZZ_CHECK(again.GetEntryCount() == before.size());
  FUZZ_CHECK(Describe(again) == before);
  FUZZ_CHECK(again.GetPrefixSize() == prefix || before.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string input = ScratchFile("input.zip");
  fuzzsupport::WriteWholeFile(input, {data, size});
  ZIP_File archive;
  if (archive.Open(input, false) != trvzip::kZipOk) return 0;
  for (ZIP_FileEntry* entry : archive.Entries()) {
    CheckLookUp(archive, *entry);
    CheckExtract(*entry);
  }
  // A stub is never empty; the size varies with the input.
  CheckSaveAndReopen(archive, 1 + static_cast<uint32_t>(size % 4099));
  return 0;
}

// --verify on packages damaged in each way a package can be: every kind
// exits 1 with a line naming the damage before the verdict.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "e2e_support.h"
#include "pe/pe_image.h"
#include "zip_test_archive.h"

namespace {

namespace fs = std::filesystem;

void Put32(std::string& bytes, std::size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}
void Put16(std::string& bytes, std::size_t at, uint16_t value) {
  bytes[at] = static_cast<char>(value), bytes[at + 1] = static_cast<char>(value >> 8);
}
uint16_t Le16(const std::string& bytes, std::size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                               static_cast<uint8_t>(bytes[at + 1]) << 8);
}

// Where a member's headers and data stand, found without the product's reader.
struct Place {
  std::size_t central = 0, local = 0, data = 0;
  uint32_t compressedSize = 0;
};

Place Find(const std::string& package, const std::string& name) {
  const std::size_t end = package.size() - 22;  // the builds write no comment
  std::size_t at = ziptest::Le32(package, end + 16);
  for (uint16_t i = 0; i < Le16(package, end + 10); ++i) {
    const uint16_t n = Le16(package, at + 28);
    if (package.compare(at + 46, n, name) == 0) {
      Place p{at, ziptest::Le32(package, at + 42), 0, ziptest::Le32(package, at + 20)};
      p.data = p.local + 30 + Le16(package, p.local + 26) + Le16(package, p.local + 28);
      return p;
    }
    at += 46 + n + Le16(package, at + 30) + Le16(package, at + 32);
  }
  ADD_FAILURE() << "no member " << name;
  return {};
}

pe::PeImage Image(const std::string& package) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(package.data());
  return *pe::PeImage::Parse({bytes, package.size()}, nullptr);
}

std::string SoundPackage(const testsupport::TempDir& dir) {
  ziptest::Archive archive;
  archive.members.push_back(ziptest::Make("SETUP42.xml", e2e::Definition("Damaged", "2.0"), 8));
  std::string payload(300000, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 251);
  archive.members.push_back(ziptest::Make("payload.bin", payload, 0));
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i * i) + " of the text\n";
  archive.members.push_back(ziptest::Make("text.txt", text, 8));
  const std::string zip = dir.File("data.zip");
  testsupport::WriteFile(zip, ziptest::Build(archive));
  const std::string output = dir.File("SETUP42.exe");
  EXPECT_EQ(e2e::RunZipgraft({e2e::StubPath("stub64_full"), zip, output}).exitCode, 0);
  return testsupport::ReadText(output);
}

TEST(Verify, NamesEveryKindOfDamage) {
  testsupport::TempDir dir;
  const std::string sound = SoundPackage(dir);
  ASSERT_FALSE(sound.empty());
  fs::create_directory(dir.File("damaged"));
  const Place payload = Find(sound, "payload.bin");
  const Place text = Find(sound, "text.txt");
  const pe::PeImage image = Image(sound);
  struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    std::string line;  // what the fault's line says
  };
  const std::vector<Case> cases = {
      {"a payload byte", [&](std::string& p) { p[payload.data + 1000] ^= 0x20; },
       "member 'payload.bin': its data does not match its CRC-32"},
      {"the CRC-32 in both headers",
       [&](std::string& p) {
         Put32(p, payload.local + 14, ziptest::Le32(p, payload.local + 14) ^ 1);
         Put32(p, payload.central + 16, ziptest::Le32(p, payload.central + 16) ^ 1);
       },
       "member 'payload.bin': its data does not match its CRC-32"},
      {"a local header moved",
       [&](std::string& p) { Put32(p, payload.central + 42, static_cast<uint32_t>(payload.local + 2)); },
       "member 'payload.bin': no local header where the central directory says"},
      {"deflated data cut",
       [&](std::string& p) {
         Put32(p, text.local + 18, text.compressedSize / 2);
         Put32(p, text.central + 20, text.compressedSize / 2);
       },
       "member 'text.txt': its deflated data is cut short"},
      {"the end record cut", [](std::string& p) { p.resize(p.size() - 9); },
       "the end record's comment runs past the end of the archive"},
      {"bytes behind the end record", [](std::string& p) { p += "tail"; },
       "4 bytes behind the end record"},
      {"a resource tree loop",
       [&](std::string& p) {
         const uint32_t rva = image.Directory(pe::kDirectoryResource).rva;
         const auto root = *image.RvaToOffset(rva, 24, p.size());
         Put32(p, root + 20, 0x80000000u);  // the first entry's table: the root itself
       },
       "the resource tree cannot be read"},
      {"a stale checksum",
       [&](std::string& p) { Put32(p, image.at.checkSum, image.checkSum + 1); },
       "the header checksum is stale"},
      {"a member count the directory does not hold",
       [&](std::string& p) {
         Put16(p, p.size() - 22 + 8, 4);
         Put16(p, p.size() - 22 + 10, 4);
       },
       "the end record lists 4 members, the central directory holds 3"},
  };
  for (const Case& c : cases) {
    std::string damaged = sound;
    c.damage(damaged);
    const std::string path = dir.File("damaged/SETUP42.exe");
    testsupport::WriteFile(path, damaged);
    const auto run = e2e::RunZipgraft({"--verify", path});
    EXPECT_EQ(run.exitCode, 1) << c.name;
    EXPECT_NE(run.stdoutText.find(e2e::Stdout("\nERROR: " + c.line)), std::string::npos)
        << c.name << ":\n" << run.stdoutText;
    const std::string verdict = "\nERROR: unable to open and verify '" + path + "'\n\n";
    EXPECT_TRUE(run.stdoutText.ends_with(e2e::Stdout(verdict))) << c.name;
  }
  // The package as built, the damaged copies apart.
  EXPECT_EQ(e2e::RunZipgraft({"--verify", dir.File("SETUP42.exe")}).exitCode, 0);
}

}  // namespace

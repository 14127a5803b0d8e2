// The two modes of the package check on packages made byte by byte: a stub's
// image with an archive laid out behind it, damaged in one way per case.

#include <gtest/gtest.h>

#include <functional>

#include "check/package_check.h"
#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "test_support.h"
#include "zip_archive_builder.h"

namespace {

enum class Mode { kWritten, kWhole };

struct Package {
  std::string bytes;
  uint64_t archiveStart = 0;
};

const std::string& Stub() {
  static const std::string stub = testsupport::ReadText(testsupport::StubPath("stub64_full"));
  return stub;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// The header checksum summed over the whole package again.
void Restamp(Package& p) {
  const auto image = pe::PeImage::Parse({Bytes(p.bytes), p.bytes.size()}, nullptr);
  if (image && image->checkSum != 0) {
    const uint32_t sum = pe::ComputeChecksum({Bytes(p.bytes), p.bytes.size()}, image->at.checkSum);
    for (int i = 0; i < 4; ++i) p.bytes[image->at.checkSum + i] = static_cast<char>(sum >> (8 * i));
  }
}

// The stub with the archive behind it, its checksum summed over the whole.
Package Assemble(ziptest::Archive archive) {
  archive.shift = static_cast<uint32_t>(Stub().size());
  Package p{Stub() + ziptest::Build(archive), Stub().size()};
  Restamp(p);
  return p;
}

ziptest::Archive Usual() {
  ziptest::Archive a;
  a.members.push_back(ziptest::Make("first.txt", std::string(5000, 'a') + "first", 8));
  a.members.push_back(ziptest::Make("second.bin", std::string(3000, '\x7f'), 0));
  return a;
}

std::vector<check::Finding> Check(const Package& p, Mode mode, check::Plan plan) {
  testsupport::TempDir dir;
  const std::string path = dir.File("package.exe");
  testsupport::WriteFile(path, p.bytes);
  platform::FileHandle file;
  EXPECT_TRUE(file.Open(path, platform::Access::Read, platform::Share::Read,
                        platform::Disposition::OpenExisting));
  if (mode == Mode::kWhole) return check::CheckWholePackage(file);
  return check::CheckWrittenPackage(file, plan);
}

std::string Shown(const std::vector<check::Finding>& findings) {
  std::string text;
  for (const auto& f : findings) {
    text += (f.kind == check::Finding::Kind::kFault ? "fault: " : "note: ") + f.what + "\n";
  }
  return text;
}

TEST(PackageCheck, FindsEachKindOfDamageInItsMode) {
  using Edit = std::function<void(ziptest::Archive&)>;
  using Spoil = std::function<void(Package&)>;
  const Edit none = [](ziptest::Archive&) {};
  const Spoil intact = [](Package&) {};
  // The first member's local header, and its data, in a package of Usual().
  const std::size_t local = Stub().size();
  const std::size_t firstData = local + 30 + 9;
  struct Case {
    const char* name;
    Mode mode;
    Edit edit;
    Spoil spoil;
    std::string fault;  // empty: none expected
    std::string note;   // empty: none expected
    std::string absent = "";  // must not be shown
  };
  const std::vector<Case> cases = {
      {"sound, written", Mode::kWritten, none, intact, "", ""},
      {"sound, whole", Mode::kWhole, none, intact, "", ""},
      {"data changed: the cheap check reads no data", Mode::kWritten, none,
       [&](Package& p) { p.bytes[firstData + 3] ^= 1; }, "", ""},
      {"data changed, whole", Mode::kWhole, none, [&](Package& p) { p.bytes[firstData + 3] ^= 1; },
       "member 'first.txt'", ""},
      {"local header stamped wrong", Mode::kWritten, none,
       [&](Package& p) { p.bytes[local + 10] ^= 1; },
       "member 'first.txt': its local header disagrees with its central header (time)", ""},
      {"local name differs", Mode::kWritten,
       [](ziptest::Archive& a) { a.members[1].localName = "secund.bin"; }, intact,
       "member 'second.bin': its local header disagrees with its central header (name)", ""},
      {"headers not the planned ones", Mode::kWritten, none, [](Package& p) { p.bytes[200] ^= 1; },
       "the image's headers are not the ones the update planned", ""},
      {"archive not where planned", Mode::kWritten, none,
       [](Package& p) { p.archiveStart += 16; }, "the archive begins at 0x00004a00, not at", ""},
      {"bytes behind the end record", Mode::kWritten, none, [](Package& p) { p.bytes += "x"; },
       "1 bytes behind the end record", ""},
      {"a comment the file does not hold", Mode::kWhole, [](ziptest::Archive& a) { a.comment = "c"; },
       [](Package& p) { p.bytes.pop_back(); },
       "the end record's comment runs past the end of the archive", ""},
      {"member count", Mode::kWritten,
       [](ziptest::Archive& a) { a.recordsOnDisk = 3, a.totalRecords = 3; }, intact,
       "the end record lists 3 members, the central directory holds 2", ""},
      {"encrypted: noted, not checked", Mode::kWhole,
       [](ziptest::Archive& a) { a.members[0].flags = 1; }, intact, "",
       "member 'first.txt' is encrypted: its data is not checked"},
      {"a method that cannot be extracted: noted", Mode::kWhole,
       [](ziptest::Archive& a) { a.members[1].method = 12; }, intact, "",
       "member 'second.bin' uses the method BZip2 (12): its data is not checked"},
      {"inflates past its declared size", Mode::kWhole,
       [](ziptest::Archive& a) { a.members[0].declaredSize = 100; }, intact,
       "member 'first.txt': its data inflates to more than its declared size", ""},
      {"a descriptor that agrees", Mode::kWhole,
       [](ziptest::Archive& a) {
         a.members[0].dataDescriptor = true;
         a.members[0].descriptor = ziptest::Descriptor::kSigned;
       }, intact,
       "", ""},
      {"a descriptor that disagrees", Mode::kWhole,
       [](ziptest::Archive& a) {
         a.members[0].dataDescriptor = true;
         a.members[0].descriptor = ziptest::Descriptor::kPlain;
         a.members[0].descriptorCrcXor = 1;
       },
       intact, "member 'first.txt': no data descriptor holding its central values",
       "12 bytes that no member holds before member 'second.bin'"},
      {"ZIP64 extra fields", Mode::kWhole,
       [](ziptest::Archive& a) { a.members[1].zip64Central = a.members[1].zip64Local = true; },
       intact, "", ""},
      // 65,535 is a count, not a placeholder, unless a ZIP64 end record stands in front.
      {"65,535 members listed, without a ZIP64 end record", Mode::kWhole,
       [](ziptest::Archive& a) { a.totalRecords = 0xFFFF, a.recordsOnDisk = 0xFFFF; }, intact,
       "the end record lists 65535 members, the central directory holds 2", ""},
      // The checksum covers what the data check does not read.
      {"an encrypted member changed: the checksum still sees it", Mode::kWhole,
       [](ziptest::Archive& a) { a.members[0].flags = 1; },
       [&](Package& p) { p.bytes[firstData + 3] ^= 1; }, "the header checksum is stale",
       "member 'first.txt' is encrypted: its data is not checked"},
      {"a member's data left unread, the checksum restamped", Mode::kWhole, none,
       [&](Package& p) {
         const std::size_t second = p.bytes.rfind(std::string("PK\1\2", 4));
         for (int i = 0; i < 4; ++i) p.bytes[second + 42 + i] = static_cast<char>(local >> (8 * i));
         Restamp(p);
       },
       "member 'second.bin': its local header disagrees with its central header (method)",
       "3040 bytes that no member holds before the central directory", "checksum"},
  };
  for (const Case& c : cases) {
    ziptest::Archive archive = Usual();
    c.edit(archive);
    Package p = Assemble(archive);
    // The plan as the update made it: the headers of the package as assembled.
    const check::Plan plan{std::vector<uint8_t>(Bytes(p.bytes), Bytes(p.bytes) + 1024),
                           p.archiveStart};
    c.spoil(p);
    const auto findings = Check(p, c.mode, {plan.headers, p.archiveStart});
    const std::string shown = Shown(findings);
    EXPECT_EQ(check::HasFault(findings), !c.fault.empty()) << c.name << ":\n" << shown;
    if (!c.fault.empty()) {
      EXPECT_NE(shown.find("fault: " + c.fault), std::string::npos) << c.name << ":\n" << shown;
    }
    if (!c.absent.empty()) {
      EXPECT_EQ(shown.find(c.absent), std::string::npos) << c.name << ":\n" << shown;
    }
    const bool noted = shown.find("note: ") != std::string::npos;
    EXPECT_EQ(noted, !c.note.empty()) << c.name << ":\n" << shown;
    if (!c.note.empty()) {
      EXPECT_NE(shown.find("note: " + c.note), std::string::npos) << c.name << ":\n" << shown;
    }
  }
}

}  // namespace

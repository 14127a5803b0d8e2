// Members with data descriptors and ZIP64 records whose values fit: read with
// the central values, refused with their cause when they disagree, and
// rewritten whole, as plain 32-bit records.

#include <gtest/gtest.h>

#include <functional>

#include "test_support.h"
#include "zip/zip_file.h"
#include "zip_test_archive.h"

namespace {

using trvzip::ZIP_File;
using ziptest::Archive;
using ziptest::Descriptor;
using ziptest::Member;

const std::string kExtra("\x55\x54\x05\0\x01\x02\x03\x04\x05", 9);

Archive TwoMembers(const std::function<void(Member&)>& change) {
  Archive a;
  a.members.push_back(ziptest::Make("first.txt", std::string(3000, 'a') + "first", 8));
  a.members.push_back(ziptest::Make("second.bin", testsupport::Pattern(5000, 3)));
  for (Member& m : a.members) {
    m.extra = kExtra;
    change(m);
  }
  return a;
}

struct Case {
  const char* what;
  Archive archive;
  int expected;
};

std::vector<Case> Cases() {
  const auto descriptor = [](Descriptor form, bool zeroLocal) {
    return [form, zeroLocal](Member& m) {
      m.dataDescriptor = zeroLocal;
      m.descriptor = form;
    };
  };
  Archive zip64End = TwoMembers([](Member&) {});
  zip64End.zip64End = true;
  Archive everything = TwoMembers([](Member& m) {
    m.dataDescriptor = true, m.descriptor = Descriptor::kSigned64, m.zip64Central = true;
  });
  everything.zip64End = true;
  Archive tooMany = TwoMembers([](Member&) {});
  tooMany.zip64End = true;
  tooMany.zip64Total = 70000;
  return {
      {"descriptor with signature", TwoMembers(descriptor(Descriptor::kSigned, true)), 0},
      {"descriptor without signature", TwoMembers(descriptor(Descriptor::kPlain, true)), 0},
      {"64-bit descriptor with signature", TwoMembers(descriptor(Descriptor::kSigned64, true)), 0},
      {"64-bit descriptor without signature", TwoMembers(descriptor(Descriptor::kPlain64, true)), 0},
      {"ZIP64 extra in the central header", TwoMembers([](Member& m) { m.zip64Central = true; }), 0},
      {"ZIP64 extra in the local header", TwoMembers([](Member& m) { m.zip64Local = true; }), 0},
      // As some writers put it: in the local header only, without placeholders.
      {"ZIP64 extra not called for", TwoMembers([](Member& m) {
         m.centralExtra = m.extra;
         m.extra = std::string("\x01\x00\x10\x00", 4) + std::string(16, '\0') + m.extra;
       }), 0},
      {"ZIP64 end record", zip64End, 0},
      {"all of them", everything, 0},
      // As streaming writers (fflate, ArchiveStream) write it.
      {"descriptor flag in the local header only", TwoMembers([](Member& m) {
         m.dataDescriptor = m.descriptorFlagLocalOnly = true, m.descriptor = Descriptor::kSigned;
       }), 0},
      {"descriptor flag in the local header only, no descriptor", TwoMembers([](Member& m) {
         m.dataDescriptor = m.descriptorFlagLocalOnly = true;
       }), trvzip::kZipErrorDescriptor},
      {"descriptor CRC differs", TwoMembers([](Member& m) {
         m.dataDescriptor = true, m.descriptor = Descriptor::kSigned, m.descriptorCrcXor = 1;
       }), trvzip::kZipErrorDescriptor},
      {"descriptor missing", TwoMembers(descriptor(Descriptor::kNone, true)),
       trvzip::kZipErrorDescriptor},
      {"member of 4 GiB centrally, small locally", TwoMembers([](Member& m) {
         m.zip64Central = true, m.zip64Size = uint64_t{1} << 32;
       }), trvzip::kZipErrorDamaged},
      {"more members than the directory holds", tooMany, trvzip::kZipErrorDamaged},
  };
}

class ZipStreamedTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir.File(name);
    testsupport::WriteFile(path, bytes);
    return path;
  }
  // The archive at path rewritten behind a prefix of 512 bytes, and the prefix
  // put in front of it: the package as a build lays it out.
  void SaveBehindPrefix(ZIP_File& zip, const std::string& path, std::string* combined) {
    ASSERT_EQ(zip.Open(path, true), 0);
    zip.SetPrefixSize(512);
    ASSERT_EQ(zip.Save(path + ".out", false), 0);
    *combined = std::string(512, 'S') + testsupport::ReadText(path + ".out");
    EXPECT_EQ(ziptest::CheckOffsets(*combined), "");
  }
  testsupport::TempDir dir;
};

// The rewritten headers hold every value, agree, and carry no ZIP64 block.
void ExpectPlainHeaders(const std::string& file, const Archive& source) {
  const auto members = ziptest::StoredMembers(file);
  ASSERT_EQ(members.size(), source.members.size());
  EXPECT_EQ(ziptest::CheckOffsets(file), "");
  for (std::size_t i = 0; i < members.size(); ++i) {
    const auto& m = members[i];
    SCOPED_TRACE(m.name);
    const std::string data = source.members[i].method == 8
                                 ? ziptest::RawDeflate(source.members[i].data)
                                 : source.members[i].data;
    EXPECT_EQ(m.localHeader[6] & 8, 0);
    EXPECT_EQ(m.localHeader.substr(6, 2), m.centralHeader.substr(8, 2));
    EXPECT_EQ(m.localHeader.substr(14, 12), m.centralHeader.substr(16, 12));
    EXPECT_EQ(ziptest::Le32(m.localHeader, 14), ziptest::Crc(source.members[i].data));
    EXPECT_EQ(ziptest::Le32(m.localHeader, 18), data.size());
    EXPECT_EQ(ziptest::Le32(m.localHeader, 22), source.members[i].data.size());
    EXPECT_EQ(m.localExtra, kExtra);
    EXPECT_EQ(m.centralExtra, kExtra);
  }
}

TEST_F(ZipStreamedTest, ReadWhereValuesFitRefusedWithACauseElse) {
  int index = 0;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what);
    const std::string path = Write(std::to_string(++index) + ".zip", ziptest::Build(c.archive));
    const uint64_t digest = testsupport::FileDigest(path);
    ZIP_File zip;
    ASSERT_EQ(zip.Open(path, false), c.expected);
    if (c.expected != 0) continue;
    for (std::size_t i = 0; i < c.archive.members.size(); ++i) {
      const auto* e = zip.Entries()[i];
      std::string data(e->uncompressedSize, '\0');
      EXPECT_EQ(zip.Entries()[i]->Extract(data.data(), e->uncompressedSize), 0);
      EXPECT_EQ(data, c.archive.members[i].data);
      EXPECT_EQ(e->ExtraField(), kExtra);
    }
    zip.SetPrefixSize(512);
    ASSERT_EQ(zip.Save(path + ".out", false), 0);
    EXPECT_EQ(testsupport::FileDigest(path), digest);
    const std::string combined = testsupport::Pattern(512, 7) + testsupport::ReadText(path + ".out");
    ExpectPlainHeaders(combined, c.archive);
    ASSERT_EQ(zip.Open(Write(std::to_string(index) + ".combined", combined), true), 0);
    EXPECT_EQ(zip.GetEntryCount(), c.archive.members.size());
  }
}

}  // namespace

namespace {

uint32_t Le16(const std::string& bytes, std::size_t at) {
  return ziptest::Le32(bytes + std::string(2, '\0'), at) & 0xFFFF;
}

// An encrypted member written with a descriptor keeps its flag in the headers
// that had it and a descriptor behind its data: its password check byte comes
// from its time then. Every other member is written whole, without one.
TEST_F(ZipStreamedTest, EncryptedMembersKeepTheirDescriptor) {
  struct Row {
    const char* what;
    uint16_t flags;
    bool descriptor, localOnly;
    uint32_t localFlags, centralFlags;
    bool kept;
  };
  const Row rows[] = {
      {"encrypted, with descriptor", 1, true, false, 9, 9, true},
      {"encrypted, flag in the local header only", 1, true, true, 9, 1, true},
      {"encrypted, no descriptor", 1, false, false, 1, 1, false},
      {"plain, with descriptor", 0, true, false, 0, 0, false},
  };
  int index = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Archive a;
    a.members.push_back(ziptest::Make("secret.bin", testsupport::Pattern(3000, 4)));
    a.members.push_back(ziptest::Make("after.txt", "after"));
    Member& m = a.members[0];
    m.flags = r.flags;
    m.dataDescriptor = r.descriptor, m.descriptorFlagLocalOnly = r.localOnly;
    m.descriptor = r.descriptor ? Descriptor::kPlain : Descriptor::kNone;
    const std::string path = Write("enc" + std::to_string(++index) + ".zip", ziptest::Build(a));
    ZIP_File zip;
    std::string combined;
    ASSERT_NO_FATAL_FAILURE(SaveBehindPrefix(zip, path, &combined));
    const auto stored = ziptest::StoredMembers(combined);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(Le16(stored[0].localHeader, 6), r.localFlags);
    EXPECT_EQ(Le16(stored[0].centralHeader, 8), r.centralFlags);
    // The local header holds every value, as Info-ZIP writes it.
    EXPECT_EQ(stored[0].localHeader.substr(14, 12), stored[0].centralHeader.substr(16, 12));
    const std::size_t dataEnd = stored[0].localHeaderOffset + 30 + 10 + 3000;
    const std::string descriptor = std::string("PK\x07\x08", 4) +
                                   stored[0].centralHeader.substr(16, 12);
    EXPECT_EQ(combined.substr(dataEnd, r.kept ? 16 : 0), r.kept ? descriptor : "");
    EXPECT_EQ(stored[1].localHeaderOffset, dataEnd + (r.kept ? 16 : 0));
    ASSERT_EQ(zip.Open(Write("enc" + std::to_string(index) + ".combined", combined), true), 0);
    EXPECT_EQ(zip.GetEntryCount(), 2u);
    EXPECT_EQ(zip.Entries()[0]->KeepsDescriptor(), r.kept);
  }
}

// Readers walk the central header's extra field as blocks, and some refuse an
// archive whose blocks run past its end: a local field like that stays in the
// local header, and the central header keeps its own.
TEST_F(ZipStreamedTest, ExtraFieldsThatCannotBeWalkedStayLocal) {
  const std::string block("\x55\x54\x05\0\x01\x02\x03\x04\x05", 9);
  const std::string overrun("\x99\x99\x10\0abc", 7);
  struct Row {
    const char* what;
    std::string local, central;
    bool zip64Central;
    std::string writtenCentral;
  };
  const Row rows[] = {
      {"walkable", block, "", false, block},
      {"walkable, with padding", block + "\0\0\0", "", false, block + "\0\0\0"},
      {"block past the end", overrun, block, false, block},
      {"block past the end, central ZIP64", overrun, block, true, block},
      {"block past the end in both", overrun, overrun + "d", false, overrun + "d"},
      {"block past the end, central empty", overrun, "", false, ""},
  };
  int index = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Archive a;
    a.members.push_back(ziptest::Make("member.txt", "some member text", 8));
    a.members[0].extra = r.local;
    a.members[0].centralExtra = r.central;
    a.members[0].zip64Central = r.zip64Central;
    const std::string path = Write("x" + std::to_string(++index) + ".zip", ziptest::Build(a));
    ZIP_File zip;
    std::string combined;
    ASSERT_NO_FATAL_FAILURE(SaveBehindPrefix(zip, path, &combined));
    const auto stored = ziptest::StoredMembers(combined);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].localExtra, r.local);
    EXPECT_EQ(stored[0].centralExtra, r.writtenCentral);
    const std::string package = Write("x" + std::to_string(index) + ".combined", combined);
    ASSERT_EQ(zip.Open(package, true), 0);
    std::string data(16, '\0');
    EXPECT_EQ(zip.Entries()[0]->Extract(data.data(), 16), 0);
    // Python and 7-Zip read the package as they read the input.
    for (const std::string& reader : {std::string("/usr/bin/python3 -m zipfile -t"),
                                      std::string("7zz t")}) {
      if (!testsupport::HaveProgram(reader.substr(0, reader.find(' ')))) continue;
      const auto verdict = [&](const std::string& file) {
        const auto r = testsupport::RunCommand(reader + " " + testsupport::ShellQuote(file), true);
        return std::pair{r.exitCode, r.output.find("rror") != std::string::npos};
      };
      EXPECT_EQ(verdict(package), verdict(path)) << reader;
    }
  }
}

}  // namespace

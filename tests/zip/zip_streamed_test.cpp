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
using trvzip::ZipCause;
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
  ZipCause cause;
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
  constexpr int kFormat = trvzip::kZipErrorFormat;
  return {
      {"descriptor with signature", TwoMembers(descriptor(Descriptor::kSigned, true)), 0, ZipCause::kNone},
      {"descriptor without signature", TwoMembers(descriptor(Descriptor::kPlain, true)), 0, ZipCause::kNone},
      {"64-bit descriptor with signature", TwoMembers(descriptor(Descriptor::kSigned64, true)), 0, ZipCause::kNone},
      {"64-bit descriptor without signature", TwoMembers(descriptor(Descriptor::kPlain64, true)), 0, ZipCause::kNone},
      {"ZIP64 extra in the central header", TwoMembers([](Member& m) { m.zip64Central = true; }), 0, ZipCause::kNone},
      {"ZIP64 extra in the local header", TwoMembers([](Member& m) { m.zip64Local = true; }), 0, ZipCause::kNone},
      // As some writers put it: in the local header only, without placeholders.
      {"ZIP64 extra not called for", TwoMembers([](Member& m) {
         m.centralExtra = m.extra;
         m.extra = std::string("\x01\x00\x10\x00", 4) + std::string(16, '\0') + m.extra;
       }), 0, ZipCause::kNone},
      {"ZIP64 end record", zip64End, 0, ZipCause::kNone},
      {"all of them", everything, 0, ZipCause::kNone},
      {"descriptor CRC differs", TwoMembers([](Member& m) {
         m.dataDescriptor = true, m.descriptor = Descriptor::kSigned, m.descriptorCrcXor = 1;
       }), kFormat, ZipCause::kDescriptor},
      {"descriptor missing", TwoMembers(descriptor(Descriptor::kNone, true)), kFormat, ZipCause::kDescriptor},
      {"member of 4 GiB centrally, small locally", TwoMembers([](Member& m) {
         m.zip64Central = true, m.zip64Size = uint64_t{1} << 32;
       }), kFormat, ZipCause::kDamaged},
      {"more members than the directory holds", tooMany, kFormat, ZipCause::kDamaged},
  };
}

class ZipStreamedTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir.File(name);
    testsupport::WriteFile(path, bytes);
    return path;
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
    EXPECT_EQ(zip.GetCause(), c.cause);
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

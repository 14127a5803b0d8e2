// Opening archives: the end record search, directory checks, prefixes, look-up.

#include <gtest/gtest.h>

#include "test_support.h"
#include "zip/zip_file.h"
#include "zip_test_archive.h"

namespace {

using trvzip::ZIP_File;
using ziptest::Archive;
using ziptest::Member;

class ZipDirectoryTest : public ::testing::Test {
 protected:
  int OpenBytes(ZIP_File& zip, const std::string& bytes) {
    const std::string path = dir.File(std::to_string(++counter) + ".zip");
    testsupport::WriteFile(path, bytes);
    return zip.Open(path, true);
  }
  testsupport::TempDir dir;
  int counter = 0;
};

Archive OneMember(std::string comment = "") {
  Archive a;
  a.members.push_back(ziptest::Make("hello.txt", "hello"));
  a.comment = std::move(comment);
  return a;
}

TEST_F(ZipDirectoryTest, EndRecordFoundAtEveryDistanceFromTheEnd) {
  // Comment lengths put the signature at each side of, and straddling, the
  // 1,024-byte window steps, and up to the longest comment a record states.
  for (std::size_t length : {0u, 1001u, 1002u, 1003u, 1004u, 1005u, 1006u, 2027u, 2028u,
                             2029u, 30000u, 65512u, 65513u, 65514u, 65534u, 65535u}) {
    SCOPED_TRACE(length);
    ZIP_File zip;
    ASSERT_EQ(OpenBytes(zip, ziptest::Build(OneMember(std::string(length, 'c')))), 0);
    EXPECT_EQ(zip.GetEntryCount(), 1u);
    EXPECT_EQ(length == 0 ? 0u : std::string(zip.GetComment()).size(), length);
  }
  ZIP_File zip;
  // One byte more behind the longest comment puts the record out of range.
  EXPECT_EQ(OpenBytes(zip, ziptest::Build(OneMember(std::string(65535, 'c'))) + "x"), trvzip::kZipErrorNoEndRecord);
}

TEST_F(ZipDirectoryTest, MalformedDirectoriesFailWithTheirCode) {
  struct Case {
    const char* what;
    std::string bytes;
    int expected;
  };
  Archive disk1 = OneMember(), directoryDisk1 = OneMember(), counts = OneMember();
  disk1.disk = 1;
  directoryDisk1.directoryDisk = 1;
  counts.recordsOnDisk = 3;
  counts.totalRecords = 4;
  Archive caseOnly = OneMember(), descriptor = OneMember(), crc = OneMember();
  caseOnly.members[0].localName = "HELLO.txt";
  descriptor.members[0].dataDescriptor = true;
  const std::string good = ziptest::Build(OneMember());
  std::string badLocal = good;
  badLocal[0] = 'X';
  // Three central headers sharing one local header with a large extra field.
  Archive shared = OneMember();
  shared.members[0].extra = std::string(60000, 'x');
  shared.members[0].centralExtra = "";
  shared.recordsOnDisk = shared.totalRecords = 3;
  std::string sharedBytes = ziptest::Build(shared);
  const std::size_t centralAt = sharedBytes.find("PK\x01\x02");
  const std::string centralHeader = sharedBytes.substr(centralAt, 46 + 9);
  sharedBytes.insert(centralAt, centralHeader + centralHeader);
  // A fake record in the comment, nearest the end, wins the search.
  const std::string fakeCounts("PK\x05\x06\0\0\0\0\x03\0\x04\0\0\0\0\0\0\0\0\0\0\0", 22);
  const Case cases[] = {
      {"shorter than a signature", "PK", trvzip::kZipErrorNoEndRecord},
      {"no signature", std::string(5000, 'x'), trvzip::kZipErrorNoEndRecord},
      {"empty archive at byte 0", ziptest::Build(Archive{}), trvzip::kZipErrorNoEndRecord},
      {"disk 1", ziptest::Build(disk1), trvzip::kZipErrorMultiDisk},
      {"directory on disk 1", ziptest::Build(directoryDisk1), trvzip::kZipErrorMultiDisk},
      {"3 records on disk, 4 in total", ziptest::Build(counts), trvzip::kZipErrorDamaged},
      {"local name differs in case", ziptest::Build(caseOnly), trvzip::kZipErrorDamaged},
      {"data descriptor", ziptest::Build(descriptor), trvzip::kZipErrorDescriptor},
      {"local signature damaged", badLocal, trvzip::kZipErrorDamaged},
      {"cut inside the directory", good.substr(0, good.size() - 30), trvzip::kZipErrorNoEndRecord},
      {"fake record in comment", ziptest::Build(OneMember(fakeCounts)), trvzip::kZipErrorDamaged},
      {"not shifted behind a prefix", std::string(4096, 'M') + good, trvzip::kZipErrorDamaged},
      {"members sharing a local header", sharedBytes, trvzip::kZipErrorDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZIP_File zip;
    EXPECT_EQ(OpenBytes(zip, c.bytes), c.expected);
    EXPECT_FALSE(zip.IsOpen());
    EXPECT_EQ(zip.GetEntryCount(), 0u);
    EXPECT_EQ(zip.GetComment(), nullptr);
  }
  ZIP_File zip;
  EXPECT_EQ(zip.Open(dir.File("missing.zip"), true), trvzip::kZipErrorOpen);
}

TEST_F(ZipDirectoryTest, FindEntryFoldsAsciiCaseAndTakesTheFirstDuplicate) {
  Archive a;
  for (const char* name : {"setup.xml", "dir/Gr\xc3\xb6\xc3\x9f" "e.txt", "SETUP.XML"}) {
    a.members.push_back(ziptest::Make(name, name));
  }
  ZIP_File zip;
  ASSERT_EQ(OpenBytes(zip, ziptest::Build(a)), 0);
  const auto entries = zip.Entries();
  EXPECT_EQ(zip.FindEntry(u"SETUP.XML"), entries[0]);
  EXPECT_EQ(zip.FindEntry(u"Setup.Xml"), entries[0]);
  EXPECT_EQ(zip.FindEntry(u"DIR/gr\u00f6\u00dfE.TXT"), entries[1]);
  EXPECT_EQ(zip.FindEntry(u"setup"), nullptr);
  EXPECT_EQ(zip.FindEntry(nullptr), nullptr);
}

// Extra fields are tagged records full of zero bytes and stay whole; the
// comment (and a name) end at their first zero byte.
TEST_F(ZipDirectoryTest, ExtraFieldsStayWholeCommentsEndAtAZeroByte) {
  Archive a = OneMember(std::string("ab\0cd", 5));
  a.members[0].extra = std::string("\x55\x54\x05\0\x01", 5);
  ZIP_File zip;
  ASSERT_EQ(OpenBytes(zip, ziptest::Build(a)), 0);
  const auto* e = zip.Entries()[0];
  EXPECT_EQ(e->ExtraField(), a.members[0].extra);
  EXPECT_EQ(e->dataOffset, 30u + 9 + 5);  // stored lengths locate the data
  EXPECT_STREQ(zip.GetComment(), "ab");
}

TEST_F(ZipDirectoryTest, OpeningAgainReplacesTheFirstArchive) {
  Archive two = OneMember();
  two.members.push_back(ziptest::Make("x", ""));
  ZIP_File zip;
  ASSERT_EQ(OpenBytes(zip, ziptest::Build(two)), 0);
  ASSERT_EQ(OpenBytes(zip, ziptest::Build(OneMember())), 0);
  EXPECT_EQ(zip.GetEntryCount(), 1u);
  EXPECT_EQ(zip.FindEntry(u"x"), nullptr);
}

}  // namespace

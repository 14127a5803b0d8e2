// ZIP64: hostile end records and extra fields refused with their cause, sound
// ones read; and the rewrite writes ZIP64 exactly where the shift by the
// prefix makes a value overflow 32 bits, checked without the product's reader
// and by Python's, on a sparse file with the prefix as a hole.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "test_support.h"
#include "zip/zip_file.h"
#include "zip_test_archive.h"

namespace {

using testsupport::ShellQuote;
using trvzip::ZIP_File;
using ziptest::Archive;
using ziptest::Member;

constexpr uint64_t kWide = 0xFFFFFFFFu;  // the first value that needs ZIP64
constexpr uint32_t kShift = 64;          // bytes in front of the hostile archives

uint64_t Le(const std::string& s, std::size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes; i-- > 0;) v = v << 8 | static_cast<uint8_t>(s.at(at + i));
  return v;
}
void Patch(std::string& s, std::size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i, v >>= 8) s.at(at + i) = static_cast<char>(v & 0xFF);
}

// The ZIP64 block of an extra field (with its 4-byte header); empty when none.
std::string Zip64Block(const std::string& field) {
  for (std::size_t at = 0; at + 4 <= field.size();) {
    const auto size = static_cast<std::size_t>(Le(field, at + 2, 2));
    if (Le(field, at, 2) == 1) return field.substr(at, 4 + size);
    at += 4 + size;
  }
  return {};
}

// The records of bytes that stand at base in the whole file, read here.
struct Layout {
  bool zip64End = false;
  uint64_t endCount = 0, endOffset = 0, count = 0, directoryOffset = 0;
  std::vector<std::string> localBlocks, centralBlocks;
  std::vector<uint64_t> offsets, centralVersions;
};

Layout ReadLayout(const std::string& f, uint64_t base) {
  Layout l;
  const std::size_t end = f.size() - 22;
  l.endCount = Le(f, end + 10, 2), l.endOffset = Le(f, end + 16, 4);
  l.zip64End = end >= 20 && Le(f, end - 20, 4) == 0x07064b50;
  l.count = l.endCount, l.directoryOffset = l.endOffset;
  if (l.zip64End) {
    const auto record = static_cast<std::size_t>(Le(f, end - 12, 8) - base);
    EXPECT_EQ(Le(f, record, 4), 0x06064b50u);
    EXPECT_EQ(record + 56, end - 20);
    l.count = Le(f, record + 32, 8), l.directoryOffset = Le(f, record + 48, 8);
  }
  auto at = static_cast<std::size_t>(l.directoryOffset - base);
  for (uint64_t i = 0; i < l.count; ++i) {
    const auto name = Le(f, at + 28, 2), extra = Le(f, at + 30, 2), comment = Le(f, at + 32, 2);
    const std::string block = Zip64Block(f.substr(at + 46 + name, extra));
    uint64_t offset = Le(f, at + 42, 4);
    if (offset == kWide) offset = Le(block, block.size() - 8, 8);
    l.centralBlocks.push_back(block);
    l.centralVersions.push_back(Le(f, at + 6, 2));
    l.offsets.push_back(offset);
    const auto local = static_cast<std::size_t>(offset - base);
    EXPECT_EQ(Le(f, local, 4), 0x04034b50u);
    l.localBlocks.push_back(
        Zip64Block(f.substr(local + 30 + Le(f, local + 26, 2), Le(f, local + 28, 2))));
    at += 46 + name + extra + comment;
  }
  return l;
}

// Two members whose central headers and end record use ZIP64 for every value.
Archive Zip64Archive() {
  Archive a;
  a.members.push_back(ziptest::Make("first.txt", std::string(56, 'D')));
  a.members.push_back(ziptest::Make("second.bin", testsupport::Pattern(5000, 3), 8));
  for (Member& m : a.members) m.zip64Central = true;
  a.zip64End = true;
  a.shift = kShift;
  return a;
}

struct Hostile {
  const char* what;
  Archive archive;
  std::function<void(std::string&)> change;  // on the whole file, prefix included
  int expected;
};

std::vector<Hostile> HostileCases() {
  // Where the records of a file built from Zip64Archive lie.
  const auto locator = [](const std::string& f) { return f.size() - 22 - 20; };
  const auto record = [&](const std::string& f) { return locator(f) - 56; };
  const auto pointTo = [&](std::function<std::size_t(std::string&)> where) {
    return [=](std::string& f) { Patch(f, locator(f) + 8, where(f), 8); };
  };
  // The genuine record copied to at, which the locator then points to.
  const auto decoy = [&](std::function<std::size_t(const std::string&)> at) {
    return [=](std::string& f) {
      const std::size_t to = at(f);
      f.replace(to, 56, f.substr(record(f), 56));
      Patch(f, locator(f) + 8, to, 8);
    };
  };
  const auto member = [](std::function<void(Member&)> change, std::size_t index = 0) {
    Archive a = Zip64Archive();
    change(a.members[index]);
    return a;
  };
  const auto centralBlock = [](const std::string& f) { return f.rfind("first.txt") + 9; };
  Archive notHeld = Zip64Archive();
  notHeld.zip64Total = 3;
  // The last central header's extra field ends in bytes like a locator (of a
  // second disk); in the input its comment stands between them and the end
  // record, and the rewrite drops member comments.
  Archive likeLocator;
  likeLocator.members.push_back(ziptest::Make("a.txt", "hello\n"));
  likeLocator.members[0].extra =
      std::string("\x5a\x5a\x14\x00PK\x06\x07\x01\0\0\0", 12) + std::string(8, '\0') +
      std::string("\x02\0\0\0", 4);
  likeLocator.members[0].memberComment = "c";
  likeLocator.shift = kShift;
  const auto none = [](std::string&) {};
  return {
      {"sound ZIP64 records", Zip64Archive(), none, 0},
      {"ZIP64 record with extensible data", Zip64Archive(), [&](std::string& f) {
         const std::size_t at = locator(f);
         Patch(f, record(f) + 4, 44 + 8, 8);
         f.insert(at, 8, 'x');
       }, 0},
      {"directory ending like a locator", likeLocator, none, 0},
      {"locator into member data", Zip64Archive(), pointTo([](std::string&) { return kShift + 40; }),
       trvzip::kZipErrorDamaged},
      {"decoy record in member data", Zip64Archive(),
       decoy([](const std::string& f) { return f.find(std::string(56, 'D')); }), trvzip::kZipErrorDamaged},
      {"decoy record before the archive", Zip64Archive(), decoy([](const std::string&) { return 0; }),
       trvzip::kZipErrorDamaged},
      {"locator past the end", Zip64Archive(), pointTo([](std::string& f) { return f.size() + 100; }),
       trvzip::kZipErrorDamaged},
      {"record not ending at the locator", Zip64Archive(),
       [&](std::string& f) { Patch(f, record(f) + 4, 44 + 8, 8); }, trvzip::kZipErrorDamaged},
      {"record disagreeing with the end record", Zip64Archive(), [](std::string& f) {
         Patch(f, f.size() - 22 + 8, 3, 2), Patch(f, f.size() - 22 + 10, 3, 2);
       }, trvzip::kZipErrorDamaged},
      {"placeholders without a ZIP64 record", Zip64Archive(),
       [&](std::string& f) { f.erase(record(f), 56 + 20); }, trvzip::kZipErrorDamaged},
      {"locator of a second disk", Zip64Archive(),
       [&](std::string& f) { Patch(f, locator(f) + 16, 2, 4); }, trvzip::kZipErrorMultiDisk},
      {"ZIP64 extra missing", Zip64Archive(),
       [&](std::string& f) { Patch(f, centralBlock(f), 0x9999, 2); }, trvzip::kZipErrorDamaged},
      {"fields past the ZIP64 block's length", Zip64Archive(),
       [&](std::string& f) { Patch(f, centralBlock(f) + 2, 16, 2); }, trvzip::kZipErrorDamaged},
      {"count the directory does not hold", notHeld, none, trvzip::kZipErrorDamaged},
      {"compressed size passing the file", member([](Member& m) {
         m.zip64Local = true, m.zip64Compressed = uint64_t{1} << 40;
       }, 1), none, trvzip::kZipErrorDamaged},
  };
}

class ZipZip64Test : public ::testing::Test {
 protected:
  // bytes written behind a hole of prefix bytes: a sparse file.
  std::string Sparse(const std::string& name, uint64_t prefix, const std::string& bytes) {
    const std::string path = dir.File(name);
    std::ofstream out(path, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(prefix));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good());
    return path;
  }
  testsupport::TempDir dir;
};

TEST_F(ZipZip64Test, HostileRecordsRefusedWithTheirCauseSoundOnesRead) {
  int index = 0;
  for (const Hostile& c : HostileCases()) {
    SCOPED_TRACE(c.what);
    std::string file = std::string(kShift, 'P') + ziptest::Build(c.archive);
    c.change(file);
    const std::string path = dir.File(std::to_string(++index) + ".zip");
    testsupport::WriteFile(path, file);
    ZIP_File zip;
    ASSERT_EQ(zip.Open(path, false), c.expected);
    if (c.expected != 0) continue;
    ASSERT_EQ(zip.GetEntryCount(), c.archive.members.size());
    // Laid out behind the input's first 128 bytes: its prefix and more.
    ASSERT_TRUE(zip.HasPrefix());
    zip.SetPrefixSize(2 * kShift);
    ASSERT_EQ(zip.Save(path + ".out", false), 0);
    ZIP_File again;
    EXPECT_EQ(again.Open(path + ".out", true), 0);
    EXPECT_EQ(again.GetEntryCount(), c.archive.members.size());
  }
}

struct Shifted {
  const char* what;
  std::size_t members;
  // The prefix, from the bytes all local records and the first one take.
  std::function<uint64_t(uint64_t localBytes, uint64_t firstRecord)> prefix;
  bool zip64End;
  std::size_t firstWide;  // the first member whose offset needs ZIP64
};

TEST_F(ZipZip64Test, ShiftGetsZip64ExactlyWhereAValueNoLongerFits) {
  const Shifted cases[] = {
      {"everything fits", 3, [](uint64_t, uint64_t) { return 1u << 20; }, false, 3},
      {"directory at 4 GiB - 1, members below",
       3, [](uint64_t bytes, uint64_t) { return kWide - bytes; }, true, 3},
      {"members from the second on past 4 GiB",
       3, [](uint64_t, uint64_t first) { return kWide - first; }, true, 1},
      {"every member past 4 GiB", 3, [](uint64_t, uint64_t) { return 5ull << 30; }, true, 0},
      {"65,535 members", 65535, [](uint64_t, uint64_t) { return 4096; }, true, 65535},
  };
  for (const Shifted& c : cases) {
    SCOPED_TRACE(c.what);
    Archive a;
    for (std::size_t i = 0; i < c.members; ++i) {
      a.members.push_back(ziptest::Make("m" + std::to_string(i), std::to_string(i), i % 2 * 8));
    }
    a.members[0].data = testsupport::Pattern(3000, 9);
    const std::string path = dir.File("shifted.zip");
    testsupport::WriteFile(path, ziptest::Build(a));
    ZIP_File zip;
    ASSERT_EQ(zip.Open(path, true), 0);
    // The members' local records, back to back as the rewrite keeps them.
    const auto entries = zip.Entries();
    const uint64_t firstRecord = entries[1]->localHeaderOffset;
    const uint64_t lastEnd = entries.back()->dataOffset + entries.back()->compressedSize;
    const uint64_t shift = c.prefix(lastEnd, firstRecord);
    zip.SetPrefixSize(shift);
    ASSERT_EQ(zip.Save(path + ".out", false), 0);
    const std::string saved = testsupport::ReadText(path + ".out");
    const Layout l = ReadLayout(saved, shift);
    EXPECT_EQ(l.zip64End, c.zip64End);
    EXPECT_EQ(l.count, c.members);
    EXPECT_EQ(l.endCount, std::min<uint64_t>(c.members, 0xFFFF));
    EXPECT_EQ(l.endOffset, std::min(l.directoryOffset, kWide));
    EXPECT_EQ(l.directoryOffset, shift + lastEnd);
    for (std::size_t i = 0; i < c.members; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(l.localBlocks[i], "");
      const bool wide = i >= c.firstWide;
      EXPECT_EQ(l.centralBlocks[i].size(), wide ? 12u : 0u);
      EXPECT_EQ(l.offsets[i] >= kWide, wide);
      EXPECT_EQ(l.centralVersions[i], wide ? 45u : 20u);
      if (HasFailure()) break;
    }
    const std::string combined = Sparse("combined.zip", shift, saved);
    ZIP_File again;
    ASSERT_EQ(again.Open(combined, true), 0);
    ASSERT_EQ(again.GetEntryCount(), c.members);
    EXPECT_EQ(again.GetPrefixSize(), shift);
    std::string first(3000, '\0');
    EXPECT_EQ(again.Entries()[0]->Extract(first.data(), 3000), 0);
    EXPECT_EQ(first, a.members[0].data);
    // Python reads each member whole; of the 65,535 it reads the directory.
    const auto r = testsupport::RunCommand(
        "/usr/bin/python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
        "assert len(z.infolist()) > 3 or z.testzip() is None; print(len(z.infolist()))' " +
            ShellQuote(combined), true);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output, std::to_string(c.members) + "\n");
  }
}

}  // namespace

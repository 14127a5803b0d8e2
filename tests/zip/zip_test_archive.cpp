#include "zip_test_archive.h"

#include <gtest/gtest.h>

#include "test_support.h"

#include <algorithm>

namespace ziptest {

namespace {

uint32_t Get16(const std::string& s, std::size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8;
}

}  // namespace

uint32_t Le32(const std::string& s, std::size_t at) { return Get16(s, at) | Get16(s, at + 2) << 16; }

std::string WriteArchive(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& files,
                         uint16_t method) {
  Archive archive;
  for (const auto& [name, content] : files) archive.members.push_back(Make(name, content, method));
  testsupport::WriteFile(path, Build(archive));
  return path;
}

std::string CheckOffsets(const std::string& f) {
  const std::size_t end = f.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos || end + 22 > f.size()) return "no end record";
  uint64_t count = Get16(f, end + 10);
  std::size_t at = Le32(f, end + 16);
  // Behind a ZIP64 end record, the directory ends where that record begins.
  std::size_t directoryEnd = end;
  if (end >= 76 && Le32(f, end - 20) == 0x07064b50) {
    directoryEnd = end - 76;
    if (Le32(f, directoryEnd) != 0x06064b50) return "no ZIP64 end record in front of its locator";
    count = Le32(f, directoryEnd + 32), at = Le32(f, directoryEnd + 48);
  }
  for (uint64_t i = 0; i < count; ++i) {
    if (at + 46 > f.size() || Le32(f, at) != 0x02014b50) {
      return std::to_string(at) + ": no central header";
    }
    const std::size_t local = Le32(f, at + 42);
    if (local + 30 > f.size() || Le32(f, local) != 0x04034b50) {
      return std::to_string(local) + ": no local header";
    }
    at += 46 + Get16(f, at + 28) + Get16(f, at + 30) + Get16(f, at + 32);
  }
  return at == directoryEnd ? "" : "directory does not end at the end record";
}

std::vector<StoredMember> StoredMembers(const std::string& f) {
  std::vector<StoredMember> members;
  const std::size_t end = f.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos || end + 22 > f.size()) return members;
  std::size_t at = Le32(f, end + 16);
  uint32_t count = Get16(f, end + 10);
  // A placeholder offset: the ZIP64 end record, through its locator, has them.
  if (at == 0xFFFFFFFF && end >= 20 && Le32(f, end - 20) == 0x07064b50) {
    const std::size_t zip64End = Le32(f, end - 12);
    if (zip64End + 56 <= f.size()) count = Le32(f, zip64End + 32), at = Le32(f, zip64End + 48);
  }
  for (uint32_t i = 0; i < count && at + 46 <= f.size(); ++i) {
    StoredMember m;
    const std::size_t nameLength = Get16(f, at + 28), extraLength = Get16(f, at + 30);
    m.name = f.substr(at + 46, nameLength);
    m.centralExtra = f.substr(at + 46 + nameLength, extraLength);
    m.localHeaderOffset = Le32(f, at + 42);
    m.centralHeader = f.substr(at, 46);
    const std::size_t local = m.localHeaderOffset;
    if (local + 30 <= f.size()) {
      m.localHeader = f.substr(local, 30);
      m.localExtra = f.substr(local + 30 + Get16(f, local + 26), Get16(f, local + 28));
    }
    members.push_back(m);
    at += 46 + nameLength + extraLength + Get16(f, at + 32);
  }
  return members;
}

bool Walkable(const std::string& field) {
  std::size_t at = 0;
  for (; at + 4 <= field.size(); at += 4 + Get16(field, at + 2)) {
    if (at + 4 + Get16(field, at + 2) > field.size()) return false;
  }
  return true;
}

std::string WithoutZip64(const std::string& field) {
  std::string kept;
  std::size_t at = 0;
  for (; at + 4 <= field.size(); at += 4 + Get16(field, at + 2)) {
    const std::size_t size = Get16(field, at + 2);
    if (at + 4 + size > field.size()) return field;  // not walkable: kept whole
    if (Get16(field, at) != 1) kept += field.substr(at, 4 + size);
  }
  return kept + field.substr(at);
}

void ExpectSameExtraFields(const std::vector<StoredMember>& source,
                           const std::vector<StoredMember>& rewritten) {
  ASSERT_EQ(source.size(), rewritten.size());
  for (std::size_t i = 0; i < source.size(); ++i) {
    SCOPED_TRACE(source[i].name);
    EXPECT_EQ(rewritten[i].name, source[i].name.substr(0, source[i].name.find('\0')));
    const std::string expected = WithoutZip64(source[i].localExtra);
    const std::string central = Walkable(source[i].localExtra)
                                    ? expected
                                    : WithoutZip64(source[i].centralExtra);
    EXPECT_EQ(WithoutZip64(rewritten[i].localExtra), expected);
    // Readers walk the central field: one that cannot be walked stays local.
    EXPECT_EQ(WithoutZip64(rewritten[i].centralExtra), central);
    // A ZIP64 block only in a header with a placeholder, which it holds.
    const auto& localHeader = rewritten[i].localHeader;
    const auto& centralHeader = rewritten[i].centralHeader;
    const uint32_t wide = 0xFFFFFFFF;
    const bool localWide = Le32(localHeader, 18) == wide || Le32(localHeader, 22) == wide;
    const bool centralWide = Le32(centralHeader, 20) == wide || Le32(centralHeader, 24) == wide ||
                             Le32(centralHeader, 42) == wide;
    EXPECT_EQ(rewritten[i].localExtra != expected, localWide);
    EXPECT_EQ(rewritten[i].centralExtra != central, centralWide);
  }
}

}  // namespace ziptest

#include "zip_test_archive.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "test_support.h"

#include <algorithm>
#include <stdexcept>

namespace ziptest {

namespace {

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
uint32_t Get16(const std::string& s, std::size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8;
}

struct Prepared {
  std::string stored;
  uint32_t crc, usize;
};

Prepared Prepare(const Member& m) {
  Prepared p{m.method == 8 ? RawDeflate(m.data) : m.data, Crc(m.data) ^ m.crcXor,
             m.declaredSize.value_or(static_cast<uint32_t>(m.data.size()))};
  if (m.storedCut) p.stored.resize(*m.storedCut);
  return p;
}

// version needed .. extra length, shared by both headers.
void PutCommon(std::string& s, const Member& m, const Prepared& p, bool local,
               const std::string& name, const std::string& extra) {
  const bool zero = local && m.dataDescriptor;
  Put16(s, 20);
  Put16(s, m.dataDescriptor ? 8 : 0);
  Put16(s, m.method);
  Put16(s, 0x6000);
  Put16(s, 0x5a21);
  Put32(s, zero ? 0 : p.crc);
  Put32(s, zero ? 0 : static_cast<uint32_t>(p.stored.size()));
  Put32(s, zero ? 0 : p.usize);
  Put16(s, static_cast<uint32_t>(name.size()));
  Put16(s, static_cast<uint32_t>(extra.size()));
}

}  // namespace

uint32_t Le32(const std::string& s, std::size_t at) { return Get16(s, at) | Get16(s, at + 2) << 16; }

Member Make(std::string name, std::string data, uint16_t method) {
  Member m;
  m.name = std::move(name);
  m.data = std::move(data);
  m.method = method;
  return m;
}

uint32_t Crc(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string RawDeflate(const std::string& data) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Build(const Archive& a) {
  std::string file, directory;
  for (const Member& m : a.members) {
    const Prepared p = Prepare(m);
    const uint32_t offset = a.shift + static_cast<uint32_t>(file.size());
    Put32(file, 0x04034b50);
    const std::string& localName = m.localName ? *m.localName : m.name;
    PutCommon(file, m, p, true, localName, m.extra);
    file += localName + m.extra + p.stored;
    const std::string& centralExtra = m.centralExtra ? *m.centralExtra : m.extra;
    Put32(directory, 0x02014b50);
    Put16(directory, 0x031e);
    PutCommon(directory, m, p, false, m.name, centralExtra);
    Put16(directory, static_cast<uint32_t>(m.memberComment.size()));
    Put16(directory, 0);
    Put16(directory, 1);
    Put32(directory, 0x81a40000);
    Put32(directory, offset);
    directory += m.name + centralExtra + m.memberComment;
  }
  const uint32_t directoryOffset = a.shift + static_cast<uint32_t>(file.size());
  const auto count = static_cast<uint16_t>(a.members.size());
  file += directory;
  Put32(file, 0x06054b50);
  Put16(file, a.disk);
  Put16(file, a.directoryDisk);
  Put16(file, a.recordsOnDisk.value_or(count));
  Put16(file, a.totalRecords.value_or(count));
  Put32(file, static_cast<uint32_t>(directory.size()));
  Put32(file, directoryOffset);
  Put16(file, static_cast<uint32_t>(a.comment.size()));
  return file + a.comment;
}

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
  const uint32_t count = Get16(f, end + 10);
  std::size_t at = Le32(f, end + 16);
  for (uint32_t i = 0; i < count; ++i) {
    if (at + 46 > f.size() || Le32(f, at) != 0x02014b50) {
      return std::to_string(at) + ": no central header";
    }
    const std::size_t local = Le32(f, at + 42);
    if (local + 30 > f.size() || Le32(f, local) != 0x04034b50) {
      return std::to_string(local) + ": no local header";
    }
    at += 46 + Get16(f, at + 28) + Get16(f, at + 30) + Get16(f, at + 32);
  }
  return at == end ? "" : "directory does not end at the end record";
}

std::vector<StoredMember> StoredMembers(const std::string& f) {
  std::vector<StoredMember> members;
  const std::size_t end = f.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos || end + 22 > f.size()) return members;
  std::size_t at = Le32(f, end + 16);
  for (uint32_t i = 0, count = Get16(f, end + 10); i < count && at + 46 <= f.size(); ++i) {
    StoredMember m;
    const std::size_t nameLength = Get16(f, at + 28), extraLength = Get16(f, at + 30);
    m.name = f.substr(at + 46, nameLength);
    m.centralExtra = f.substr(at + 46 + nameLength, extraLength);
    m.localHeaderOffset = Le32(f, at + 42);
    const std::size_t local = m.localHeaderOffset;
    if (local + 30 <= f.size()) {
      m.localExtra = f.substr(local + 30 + Get16(f, local + 26), Get16(f, local + 28));
    }
    members.push_back(m);
    at += 46 + nameLength + extraLength + Get16(f, at + 32);
  }
  return members;
}

void ExpectSameExtraFields(const std::vector<StoredMember>& source,
                           const std::vector<StoredMember>& rewritten) {
  ASSERT_EQ(source.size(), rewritten.size());
  for (std::size_t i = 0; i < source.size(); ++i) {
    SCOPED_TRACE(source[i].name);
    EXPECT_EQ(rewritten[i].name, source[i].name.substr(0, source[i].name.find('\0')));
    EXPECT_EQ(rewritten[i].localExtra, source[i].localExtra);
    EXPECT_EQ(rewritten[i].centralExtra, source[i].localExtra);
  }
}

}  // namespace ziptest

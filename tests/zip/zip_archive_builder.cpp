#include "zip_archive_builder.h"

#include <zlib.h>

#include <stdexcept>
#include <utility>

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

}  // namespace ziptest

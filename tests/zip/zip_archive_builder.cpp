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

void Put64(std::string& s, uint64_t v) {
  Put32(s, static_cast<uint32_t>(v));
  Put32(s, static_cast<uint32_t>(v >> 32));
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
  const bool wide = local ? m.zip64Local : m.zip64Central;
  Put16(s, 20);
  Put16(s, (m.dataDescriptor && (local || !m.descriptorFlagLocalOnly) ? 8 : 0) | m.flags);
  Put16(s, m.method);
  Put16(s, 0x6000);
  Put16(s, 0x5a21);
  Put32(s, zero ? 0 : p.crc);
  Put32(s, wide ? 0xFFFFFFFF : zero ? 0 : static_cast<uint32_t>(p.stored.size()));
  Put32(s, wide ? 0xFFFFFFFF : zero ? 0 : p.usize);
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

// A ZIP64 extra block with the values in the order the format lists them.
std::string Zip64Block(const Member& m, const Prepared& p, std::optional<uint32_t> offset) {
  std::string block;
  Put16(block, 1);
  Put16(block, offset ? 24 : 16);
  Put64(block, m.zip64Size.value_or(p.usize));
  Put64(block, m.zip64Compressed.value_or(p.stored.size()));
  if (offset) Put64(block, *offset);
  return block;
}

std::string DescriptorBytes(const Member& m, const Prepared& p) {
  std::string d;
  const auto form = m.descriptor;
  if (form == Descriptor::kSigned || form == Descriptor::kSigned64) Put32(d, 0x08074b50);
  Put32(d, p.crc ^ m.descriptorCrcXor);
  if (form == Descriptor::kPlain64 || form == Descriptor::kSigned64) {
    Put64(d, p.stored.size());
    Put64(d, p.usize);
  } else if (form != Descriptor::kNone) {
    Put32(d, static_cast<uint32_t>(p.stored.size()));
    Put32(d, p.usize);
  }
  return form == Descriptor::kNone ? "" : d;
}

void PutZip64End(std::string& file, const Archive& a, std::size_t directorySize,
                 uint32_t directoryOffset) {
  const uint32_t at = a.shift + static_cast<uint32_t>(file.size());
  const uint64_t count = a.zip64Total.value_or(a.members.size());
  Put32(file, 0x06064b50);
  Put64(file, 44);
  Put16(file, 0x032d);
  Put16(file, 45);
  Put32(file, 0);
  Put32(file, 0);
  Put64(file, count);
  Put64(file, count);
  Put64(file, directorySize);
  Put64(file, directoryOffset);
  Put32(file, 0x07064b50);
  Put32(file, 0);
  Put64(file, at);
  Put32(file, 1);
}

std::string Build(const Archive& a) {
  std::string file, directory;
  for (const Member& m : a.members) {
    const Prepared p = Prepare(m);
    const uint32_t offset = a.shift + static_cast<uint32_t>(file.size());
    Put32(file, 0x04034b50);
    const std::string& localName = m.localName ? *m.localName : m.name;
    const std::string localExtra = (m.zip64Local ? Zip64Block(m, p, {}) : "") + m.extra;
    PutCommon(file, m, p, true, localName, localExtra);
    file += localName + localExtra + p.stored + DescriptorBytes(m, p);
    const std::string centralExtra =
        (m.zip64Central ? Zip64Block(m, p, offset) : "") + (m.centralExtra ? *m.centralExtra : m.extra);
    Put32(directory, 0x02014b50);
    Put16(directory, 0x031e);
    PutCommon(directory, m, p, false, m.name, centralExtra);
    Put16(directory, static_cast<uint32_t>(m.memberComment.size()));
    Put16(directory, 0);
    Put16(directory, 1);
    Put32(directory, 0x81a40000);
    Put32(directory, m.zip64Central ? 0xFFFFFFFF : offset);
    directory += m.name + centralExtra + m.memberComment;
  }
  const uint32_t directoryOffset = a.shift + static_cast<uint32_t>(file.size());
  const auto count = static_cast<uint16_t>(a.members.size());
  file += directory;
  if (a.zip64End) PutZip64End(file, a, directory.size(), directoryOffset);
  const bool wide = a.zip64End;
  Put32(file, 0x06054b50);
  Put16(file, wide ? 0xFFFF : a.disk);
  Put16(file, wide ? 0xFFFF : a.directoryDisk);
  Put16(file, wide ? 0xFFFF : a.recordsOnDisk.value_or(count));
  Put16(file, wide ? 0xFFFF : a.totalRecords.value_or(count));
  Put32(file, wide ? 0xFFFFFFFF : static_cast<uint32_t>(directory.size()));
  Put32(file, wide ? 0xFFFFFFFF : directoryOffset);
  Put16(file, static_cast<uint32_t>(a.comment.size()));
  return file + a.comment;
}

}  // namespace ziptest

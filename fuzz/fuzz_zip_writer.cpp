#include "fuzz_zip_writer.h"

#include <zlib.h>

namespace fuzzsupport {
namespace {

void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& data) {
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct Written {
  uint32_t offset, crc, compressed, size;
  uint16_t method;
};

// Version needed through the extra field's length: the part both headers share.
void PutCommon(std::vector<uint8_t>& out, const ZipMember& m, const Written& w) {
  Put16(out, 20);
  Put16(out, 0);  // flags
  Put16(out, w.method);
  Put16(out, 0);  // time
  Put16(out, 0x21);  // 1980-01-01
  Put32(out, w.crc);
  Put32(out, w.compressed);
  Put32(out, w.size);
  Put16(out, static_cast<uint32_t>(m.name.size()));
  Put16(out, 0);  // extra field
}

}  // namespace

std::vector<uint8_t> BuildZip(const std::vector<ZipMember>& members, uint32_t prefix) {
  std::vector<uint8_t> out;
  std::vector<Written> written;
  for (const ZipMember& m : members) {
    const std::vector<uint8_t> stored = m.deflate ? RawDeflate(m.data) : m.data;
    const auto crc = static_cast<uint32_t>(
        crc32(0, m.data.data(), static_cast<uInt>(m.data.size())));
    const Written w{prefix + static_cast<uint32_t>(out.size()), crc,
                    static_cast<uint32_t>(stored.size()), static_cast<uint32_t>(m.data.size()),
                    static_cast<uint16_t>(m.deflate ? 8 : 0)};
    Put32(out, 0x04034B50);
    PutCommon(out, m, w);
    out.insert(out.end(), m.name.begin(), m.name.end());
    out.insert(out.end(), stored.begin(), stored.end());
    written.push_back(w);
  }
  const auto directory = static_cast<uint32_t>(out.size());
  for (std::size_t i = 0; i < members.size(); ++i) {
    Put32(out, 0x02014B50);
    Put16(out, 20);  // made by
    PutCommon(out, members[i], written[i]);
    Put16(out, 0);  // comment length
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, 0);  // external attributes
    Put32(out, written[i].offset);
    out.insert(out.end(), members[i].name.begin(), members[i].name.end());
  }
  const auto directorySize = static_cast<uint32_t>(out.size()) - directory;
  Put32(out, 0x06054B50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint32_t>(members.size()));
  Put16(out, static_cast<uint32_t>(members.size()));
  Put32(out, directorySize);
  Put32(out, prefix + directory);
  Put16(out, 0);
  return out;
}

}  // namespace fuzzsupport

#include "zip/zip_records.h"

namespace trvzip::records {

namespace {

CommonFields ReadCommon(bytes::ByteReader& in) {
  CommonFields c;
  c.versionNeeded = in.U16();
  c.flags = in.U16();
  c.method = in.U16();
  c.modTime = in.U16();
  c.modDate = in.U16();
  c.crc32 = in.U32();
  c.compressedSize = in.U32();
  c.uncompressedSize = in.U32();
  c.nameLength = in.U16();
  c.extraLength = in.U16();
  return c;
}

void WriteCommon(bytes::ByteWriter& out, const CommonFields& c) {
  out.U16(c.versionNeeded);
  out.U16(c.flags);
  out.U16(c.method);
  out.U16(c.modTime);
  out.U16(c.modDate);
  out.U32(c.crc32);
  out.U32(c.compressedSize);
  out.U32(c.uncompressedSize);
  out.U16(c.nameLength);
  out.U16(c.extraLength);
}

}  // namespace

bool CommonFields::SameValues(const CommonFields& o) const {
  return versionNeeded == o.versionNeeded && flags == o.flags && method == o.method &&
         modTime == o.modTime && modDate == o.modDate && crc32 == o.crc32 &&
         compressedSize == o.compressedSize && uncompressedSize == o.uncompressedSize;
}

LocalHeader ReadLocalHeader(bytes::ByteReader& in) {
  LocalHeader h;
  h.signature = in.U32();
  h.common = ReadCommon(in);
  return h;
}

CentralHeader ReadCentralHeader(bytes::ByteReader& in) {
  CentralHeader h;
  h.signature = in.U32();
  h.versionMadeBy = in.U16();
  h.common = ReadCommon(in);
  h.commentLength = in.U16();
  h.diskNumberStart = in.U16();
  h.internalAttributes = in.U16();
  h.externalAttributes = in.U32();
  h.localHeaderOffset = in.U32();
  return h;
}

EndRecord ReadEndRecord(bytes::ByteReader& in) {
  EndRecord r;
  r.signature = in.U32();
  r.disk = in.U16();
  r.directoryDisk = in.U16();
  r.recordsOnDisk = in.U16();
  r.totalRecords = in.U16();
  r.directorySize = in.U32();
  r.directoryOffset = in.U32();
  r.commentLength = in.U16();
  return r;
}

void Write(bytes::ByteWriter& out, const LocalHeader& h) {
  out.U32(h.signature);
  WriteCommon(out, h.common);
}

void Write(bytes::ByteWriter& out, const CentralHeader& h) {
  out.U32(h.signature);
  out.U16(h.versionMadeBy);
  WriteCommon(out, h.common);
  out.U16(h.commentLength);
  out.U16(h.diskNumberStart);
  out.U16(h.internalAttributes);
  out.U32(h.externalAttributes);
  out.U32(h.localHeaderOffset);
}

void Write(bytes::ByteWriter& out, const EndRecord& r) {
  out.U32(r.signature);
  out.U16(r.disk);
  out.U16(r.directoryDisk);
  out.U16(r.recordsOnDisk);
  out.U16(r.totalRecords);
  out.U32(r.directorySize);
  out.U32(r.directoryOffset);
  out.U16(r.commentLength);
}

}  // namespace trvzip::records

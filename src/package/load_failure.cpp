#include "package/load_failure.h"

#include <string_view>

#include "zip/zip_methods.h"

namespace {

// The member's name as stored, with control characters shown as '?' so that
// an archive cannot write to the console through it.
std::string Quoted(const trvzip::ZIP_FileEntry& entry) {
  std::string name = entry.GetName() != nullptr ? entry.GetName() : "";
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return "'" + name + "'";
}

}  // namespace

std::string ArchiveFailureText(int openResult) {
  switch (openResult) {
    case trvzip::kZipErrorNoEndRecord:
      return "the file is not a ZIP archive: it has no end of central directory record";
    case trvzip::kZipErrorMultiDisk:
      return "the archive is split over several disks; only a single-file archive can be used";
    case trvzip::kZipErrorDamaged:
      return "the archive is damaged: its headers disagree or point where no record is";
    case trvzip::kZipErrorDescriptor:
      return "the archive is damaged: a member's data descriptor disagrees with its central "
             "header";
    default:
      return {};
  }
}

std::string MemberFailureText(const trvzip::ZIP_FileEntry& entry, int result) {
  switch (result) {
    case trvzip::kZipErrorEncrypted:
      return "member " + Quoted(entry) + " is encrypted, and encrypted members cannot be read";
    case trvzip::kZipErrorMethod:
      return "member " + Quoted(entry) + " uses compression method " +
             std::to_string(entry.method) + " (" + trvzip::MethodName(entry.method) +
             "); only stored and Deflate members can be read";
    case trvzip::kZipErrorCrc:
      return "the archive is damaged: member " + Quoted(entry) + " fails its CRC-32 check";
    default:
      return "the archive is damaged: member " + Quoted(entry) + " cannot be read whole";
  }
}

std::string MemberSizeText(const trvzip::ZIP_FileEntry& entry) {
  return "member " + Quoted(entry) + " declares a size that its archive cannot hold, or "
         "larger than 16 MiB";
}

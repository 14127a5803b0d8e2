#include "check/archive_walk.h"

#include <algorithm>
#include <array>
#include <span>

#include "zip/block_reader.h"
#include "zip/member_headers.h"
#include "zip/zip_end_records.h"
#include "zip/zip_records.h"

namespace check {

using namespace trvzip::records;
using trvzip::BlockReader;

namespace {

constexpr std::size_t kCentralBlock = 64 * 1024;
constexpr std::size_t kLocalBlock = 16 * 1024;

// The values the end records give for the directory.
struct Directory {
  uint64_t offset = 0;
  uint64_t size = 0;
  uint64_t total = 0;
};

// The directory's place from the end record and, where its placeholders call for one, the
// ZIP64 end record; the archive layer's own reading, so that both judge the records alike.
bool ReadZip64End(BlockReader& reader, ArchiveWalk& walk, const EndRecord& end, Directory* d,
                  FindingSink& sink) {
  trvzip::DirectoryPlace place;
  if (trvzip::ReadEndRecords(reader, walk.endAt, end, &place) != trvzip::kZipOk) {
    sink.Fault("the end record's placeholders have no sound ZIP64 end record", walk.endAt);
    return false;
  }
  walk.zip64 = place.recordsStart != walk.endAt;
  walk.directoryEnd = place.recordsStart;
  *d = {place.offset, place.size, place.totalRecords};
  return true;
}

// padding: how many bytes may stand between the end record and limit (the
// zeros that align a certificate table behind it).
std::optional<Directory> ReadEnd(BlockReader& reader, ArchiveWalk& walk, uint64_t limit,
                                 uint64_t padding, FindingSink& sink) {
  const auto end = trvzip::ReadRecord<EndRecord>(reader, walk.endAt);
  walk.endEnd = walk.endAt + EndRecord::kSize + end.commentLength;
  walk.directoryEnd = walk.endAt;
  if (walk.endEnd > limit) {
    sink.Fault("the end record's comment runs past the end of the archive", walk.endAt);
  } else if (walk.endEnd < limit) {
    const uint64_t behind = limit - walk.endEnd;
    if (behind > padding) {
      sink.Fault(std::to_string(behind) + " bytes behind the end record", walk.endEnd);
    }
  }
  const auto set = [](uint16_t value) { return value != 0 && value != kPlaceholder16; };
  if (set(end.disk) || set(end.directoryDisk)) {
    sink.Fault("the end record describes an archive split over several disks", walk.endAt);
  } else if (end.recordsOnDisk != end.totalRecords) {
    sink.Fault("the end record's two member counts disagree", walk.endAt);
  }
  Directory d{end.directoryOffset, end.directorySize, end.totalRecords};
  if (!ReadZip64End(reader, walk, end, &d, sink)) return std::nullopt;
  if (d.offset > walk.directoryEnd || d.size != walk.directoryEnd - d.offset) {
    sink.Fault("the central directory does not end where the end record begins",
               walk.directoryEnd);
    if (d.offset > walk.directoryEnd) return std::nullopt;
  }
  walk.directoryAt = d.offset;
  return d;
}

class DirectoryWalker {
 public:
  DirectoryWalker(const platform::FileHandle& file, ArchiveWalk& walk, FindingSink& sink)
      : central_(file, kCentralBlock), local_(file, kLocalBlock), walk_(walk), sink_(sink) {}

  // Reads the central header at *at into a new member; false when there is
  // none, or the walk cannot go on behind it.
  bool Central(uint64_t* at);
  void Local(MemberSpan& m);

 private:
  std::string Member(const MemberSpan& m) const { return "member '" + walk_.Name(m) + "'"; }
  bool ResolveCentral(const CentralHeader& ch, MemberSpan& m);
  bool LocalAgrees(const LocalHeader& lh, MemberSpan& m, uint64_t* dataAt);
  void Descriptor(MemberSpan& m);

  BlockReader central_;
  BlockReader local_;
  ArchiveWalk& walk_;
  FindingSink& sink_;
  std::vector<uint8_t> centralExtra_;
  std::vector<uint8_t> localExtra_;
  std::string scratch_;
  CentralHeader header_;
  trvzip::CentralValues centralValues_;
};

bool ReadBytes(BlockReader& reader, uint64_t at, std::size_t length, void* out) {
  return reader.ReadAt(at, out, length).value_or(0) == length;
}

bool DirectoryWalker::ResolveCentral(const CentralHeader& ch, MemberSpan& m) {
  if (!trvzip::ResolveCentral(ch, centralExtra_, &centralValues_)) {
    sink_.Fault(Member(m) + ": its ZIP64 extra field lacks a value its header calls for",
                m.centralAt);
    return false;
  }
  m.compressedSize = centralValues_.compressedSize;
  m.uncompressedSize = centralValues_.uncompressedSize;
  m.localAt = centralValues_.localHeaderOffset;
  if (centralValues_.disk != 0) {
    sink_.Fault(Member(m) + ": it lies on another disk", m.centralAt);
    return false;
  }
  return true;
}

bool DirectoryWalker::Central(uint64_t* at) {
  if (*at + CentralHeader::kSize > walk_.directoryEnd) return false;
  const auto ch = trvzip::ReadRecord<CentralHeader>(central_, *at);
  if (ch.signature != kCentralSignature) {
    sink_.Fault("no central header where the directory's next one must be", *at);
    return false;
  }
  MemberSpan m;
  m.centralAt = *at;
  m.crc32 = ch.common.crc32;
  m.method = ch.common.method;
  m.flags = ch.common.flags;
  m.nameAt = static_cast<uint32_t>(walk_.names.size());
  const uint64_t nameAt = *at + CentralHeader::kSize;
  const uint64_t extraAt = nameAt + ch.common.nameLength;
  *at = extraAt + ch.common.extraLength + ch.commentLength;
  walk_.names.resize(m.nameAt + ch.common.nameLength);
  centralExtra_.resize(ch.common.extraLength);
  if (*at > walk_.directoryEnd ||
      !ReadBytes(central_, nameAt, ch.common.nameLength, walk_.names.data() + m.nameAt) ||
      !ReadBytes(central_, extraAt, ch.common.extraLength, centralExtra_.data())) {
    walk_.names.resize(m.nameAt);
    sink_.Fault("a central header runs past the central directory", m.centralAt);
    return false;
  }
  m.nameLength = ch.common.nameLength;
  header_ = ch;
  m.located = ResolveCentral(ch, m);
  if (m.located) Local(m);
  walk_.members.push_back(m);
  return true;
}

bool DirectoryWalker::LocalAgrees(const LocalHeader& lh, MemberSpan& m, uint64_t* dataAt) {
  const CommonFields& l = lh.common;
  const uint64_t extraAt = m.localAt + LocalHeader::kSize + l.nameLength;
  *dataAt = extraAt + l.extraLength;
  localExtra_.resize(l.extraLength);
  scratch_.resize(l.nameLength);
  if (!ReadBytes(local_, extraAt, l.extraLength, localExtra_.data()) ||
      !ReadBytes(local_, m.localAt + LocalHeader::kSize, l.nameLength, scratch_.data())) {
    sink_.Fault(Member(m) + ": its local header runs past the end of the file", m.localAt);
    return false;
  }
  const char* differs =
      trvzip::LocalDisagreement(lh, localExtra_, header_, centralExtra_, centralValues_);
  if (differs == nullptr && scratch_ != walk_.Name(m)) differs = "name";
  if (differs != nullptr) {
    sink_.Fault(Member(m) + ": its local header disagrees with its central header (" +
                    differs + ")",
                m.localAt);
    return false;
  }
  return true;
}

void DirectoryWalker::Descriptor(MemberSpan& m) {
  std::array<uint8_t, 24> raw{};
  const std::size_t got = local_.ReadAt(m.recordEnd, raw.data(), raw.size()).value_or(0);
  const std::size_t length = DescriptorLength(std::span<const uint8_t>(raw.data(), got), m.crc32,
                                              m.compressedSize, m.uncompressedSize);
  if (length == 0) {
    sink_.Fault(Member(m) + ": no data descriptor holding its central values behind its data",
                m.recordEnd);
  }
  m.recordEnd += length;
}

void DirectoryWalker::Local(MemberSpan& m) {
  const auto lh = trvzip::ReadRecord<LocalHeader>(local_, m.localAt);
  m.located = false;
  if (lh.signature != kLocalSignature) {
    sink_.Fault(Member(m) + ": no local header where the central directory says", m.localAt);
    return;
  }
  uint64_t dataAt = 0;
  if (!LocalAgrees(lh, m, &dataAt)) return;
  m.dataAt = dataAt;
  m.recordEnd = dataAt + m.compressedSize;
  if (m.recordEnd < dataAt || m.recordEnd > walk_.directoryAt) {
    sink_.Fault(Member(m) + ": its data runs past the start of the central directory", dataAt);
    return;
  }
  if ((lh.common.flags & kFlagDescriptor) != 0) Descriptor(m);
  m.located = true;
}

}  // namespace

std::optional<ArchiveWalk> WalkArchive(const platform::FileHandle& file, uint64_t fileSize,
                                       uint64_t limit, Strictness strictness, FindingSink& sink) {
  BlockReader reader(file, kCentralBlock);
  ArchiveWalk walk;
  limit = std::min(limit, fileSize);
  const auto endAt = trvzip::FindEndRecord(file, limit);
  if (!endAt) {
    sink.Fault("no end of central directory record", limit);
    return std::nullopt;
  }
  walk.endAt = *endAt;
  const uint64_t padding = strictness == Strictness::kWhole && limit < fileSize ? 7 : 0;
  const auto directory = ReadEnd(reader, walk, limit, padding, sink);
  if (!directory) return std::nullopt;
  // Each member takes 46 bytes of the directory at least: a count that
  // cannot fit is not allocated for.
  const uint64_t room = walk.directoryEnd - walk.directoryAt;
  walk.members.reserve(static_cast<std::size_t>(std::min(directory->total, room / 46)));
  DirectoryWalker walker(file, walk, sink);
  uint64_t at = walk.directoryAt;
  while (walker.Central(&at)) {
  }
  if (at < walk.directoryEnd && at + CentralHeader::kSize > walk.directoryEnd) {
    sink.Fault("the central directory ends inside a header", at);
  }
  if (walk.members.size() != directory->total) {
    sink.Fault("the end record lists " + std::to_string(directory->total) +
                   " members, the central directory holds " + std::to_string(walk.members.size()),
               walk.endAt);
  }
  walk.start = walk.directoryAt;
  for (const MemberSpan& m : walk.members) {
    if (m.located) walk.start = std::min(walk.start, m.localAt);
  }
  return walk;
}

void CheckSpans(ArchiveWalk& walk, Strictness strictness, FindingSink& sink) {
  std::vector<MemberSpan*> order;
  order.reserve(walk.members.size());
  for (MemberSpan& m : walk.members) {
    if (m.located) order.push_back(&m);
  }
  std::ranges::sort(order, {}, [](const MemberSpan* m) { return m->localAt; });
  uint64_t reached = walk.start;
  const MemberSpan* previous = nullptr;
  const auto gap = [&](uint64_t from, uint64_t to, const std::string& before) {
    const std::string what = std::to_string(to - from) + " bytes that no member holds " + before;
    if (strictness == Strictness::kWritten) {
      sink.Fault(what, from);
    } else {
      sink.Note(what, from);
    }
  };
  for (MemberSpan* m : order) {
    if (previous != nullptr && m->localAt < reached) {
      sink.Fault("members '" + walk.Name(*previous) + "' and '" + walk.Name(*m) + "' overlap",
                 m->localAt);
      m->located = false;  // its bytes are another member's
      continue;
    }
    if (m->localAt > reached) gap(reached, m->localAt, "before member '" + walk.Name(*m) + "'");
    reached = m->recordEnd;
    previous = m;
  }
  if (reached < walk.directoryAt) gap(reached, walk.directoryAt, "before the central directory");
}

}  // namespace check

#include "check/file_checksum.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "check/work_pool.h"

namespace check {

namespace {

using Range = SummedRanges::Range;

// The gaps are summed by workers in groups of at most this many bytes of gap.
constexpr uint64_t kGroup = uint64_t{16} << 20;
constexpr std::size_t kGapRead = std::size_t{1} << 20;

// [from, to) of the file, less the ranges from ranges[first] on.
struct Group {
  uint64_t from = 0, to = 0;
  std::size_t first = 0;
};

// Groups of the gaps that ranges (sorted, apart) leave in [0, fileSize).
std::vector<Group> GroupGaps(const std::vector<Range>& ranges, uint64_t fileSize) {
  std::vector<Group> groups{Group{}};
  uint64_t inGroup = 0, cursor = 0;
  const auto gap = [&](uint64_t to, std::size_t next) {
    while (cursor < to) {
      const uint64_t take = std::min(to - cursor, kGroup - inGroup);
      cursor += take, inGroup += take;
      if (inGroup == kGroup) {
        groups.back().to = cursor;
        groups.push_back({cursor, 0, next});
        inGroup = 0;
      }
    }
  };
  for (std::size_t k = 0; k < ranges.size(); ++k) {
    gap(ranges[k].from, k);
    cursor = ranges[k].to;
  }
  gap(fileSize, ranges.size());
  groups.back().to = fileSize;
  return groups;
}

// Sums the gaps of one group into sum, reading kGapRead bytes at a time from
// the first gap byte not yet summed: small gaps close together (the headers
// between many small members) come from one read, and a large member between
// two gaps is skipped. The offset of a byte that cannot be read, if any.
std::optional<uint64_t> SumGroup(const platform::FileHandle& file, const Group& group,
                                 const std::vector<Range>& ranges, uint8_t* buffer,
                                 pe::PeChecksum& sum, uint64_t field) {
  uint64_t windowAt = 0, windowEnd = 0;
  std::size_t k = group.first;
  for (uint64_t at = group.from; at < group.to;) {
    if (k < ranges.size() && ranges[k].from <= at) {
      at = std::max(at, ranges[k++].to);
      continue;
    }
    const uint64_t end = std::min(group.to, k < ranges.size() ? ranges[k].from : group.to);
    if (at >= windowEnd || at < windowAt) {
      const auto want = static_cast<std::size_t>(std::min<uint64_t>(kGapRead, group.to - at));
      const auto got = file.ReadShared(at, buffer, want);
      if (!got || *got != want) return at;
      windowAt = at, windowEnd = at + want;
    }
    const uint64_t to = std::min(end, windowEnd);
    pe::PeChecksum piece(field, at);
    piece.Add({buffer + (at - windowAt), static_cast<std::size_t>(to - at)});
    sum.Absorb(piece);
    at = to;
  }
  return std::nullopt;
}

}  // namespace

void CheckFileChecksum(const platform::FileHandle& file, uint64_t fileSize,
                       const ChecksumField& field, SummedRanges summed, FindingSink& sink) {
  auto& ranges = summed.ranges;
  const auto byStart = [](const Range& a, const Range& b) { return a.from < b.from; };
  // The data check's ranges come in the directory's order, which is the
  // file's order in nearly every archive.
  if (!std::ranges::is_sorted(ranges, byStart)) std::ranges::sort(ranges, byStart);
  for (std::size_t k = 0; k < ranges.size(); ++k) {
    if (ranges[k].to > fileSize || (k > 0 && ranges[k].from < ranges[k - 1].to)) {
      summed = SummedRanges(field.at);  // counted twice somewhere: sum it all
      break;
    }
  }
  const std::vector<Group> groups = GroupGaps(ranges, fileSize);
  std::vector<pe::PeChecksum> sums(groups.size(), pe::PeChecksum(field.at));
  std::vector<std::optional<uint64_t>> unread(groups.size());
  std::vector<std::unique_ptr<uint8_t[]>> buffers(WorkerCount());
  RunJobs(groups.size(), [&](std::size_t i, std::size_t worker) {
    auto& buffer = buffers[worker];
    if (!buffer) buffer.reset(new (std::nothrow) uint8_t[kGapRead]);
    unread[i] = buffer ? SumGroup(file, groups[i], ranges, buffer.get(), sums[i], field.at)
                       : std::optional<uint64_t>(groups[i].from);
  });
  pe::PeChecksum whole = summed.sum;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (unread[i]) {
      sink.Fault("the file cannot be read for its checksum", *unread[i]);
      return;
    }
    whole.Absorb(sums[i]);
  }
  const uint32_t computed = whole.ValueOfFile(fileSize);
  if (computed != field.stored) {
    sink.Fault("the header checksum is stale: " + Hex(field.stored) + " stored, " +
                   Hex(computed) + " computed",
               field.at);
  }
}

}  // namespace check

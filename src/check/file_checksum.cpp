#include "check/file_checksum.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <span>

#include "check/work_pool.h"

namespace check {

namespace {

// Gaps are summed by workers in groups of at most this many bytes of gap.
constexpr uint64_t kGroup = uint64_t{16} << 20;
constexpr std::size_t kGapRead = std::size_t{1} << 20;

bool ByStart(const pe::PeChecksum& a, const pe::PeChecksum& b) { return a.Start() < b.Start(); }

struct Gap {
  pe::PeChecksum sum;
  uint64_t end;
};

// Sums a group's gaps, reading kGapRead bytes at a time from the first gap
// not yet summed: small gaps close together (the headers between many small
// members) are summed from one read, and a large member between two gaps is
// skipped. False when the file cannot be read.
bool SumGroup(const platform::FileHandle& file, std::span<Gap> group, uint8_t* buffer) {
  std::size_t g = 0;
  for (uint64_t at = 0;;) {
    while (g < group.size() && group[g].sum.Length() == group[g].end) ++g;
    if (g == group.size()) return true;
    at = std::max(at, group[g].sum.Length());
    const auto want = static_cast<std::size_t>(std::min<uint64_t>(kGapRead, group.back().end - at));
    const auto got = file.ReadShared(at, buffer, want);
    if (!got || *got != want) return false;
    for (std::size_t k = g; k < group.size() && group[k].sum.Length() < at + want; ++k) {
      Gap& gap = group[k];
      const uint64_t from = gap.sum.Length(), to = std::min(gap.end, at + want);
      gap.sum.Add({buffer + (from - at), static_cast<std::size_t>(to - from)});
    }
    at += want;
  }
}

// Keeps the pieces, by their start, that overlap none kept before them, and
// sums what they leave uncovered of [0, fileSize) on every core. The offset
// of the first byte that cannot be read, if any.
std::optional<uint64_t> Cover(const platform::FileHandle& file, uint64_t fileSize, uint64_t field,
                              std::vector<pe::PeChecksum>& pieces) {
  // The data check's pieces come in the directory's order, which is the
  // file's order in nearly every archive.
  if (!std::ranges::is_sorted(pieces, ByStart)) std::ranges::sort(pieces, ByStart);
  std::vector<pe::PeChecksum> kept;
  std::vector<Gap> gaps;
  std::vector<std::size_t> groups{0};  // where each group begins in gaps
  uint64_t covered = 0, grouped = 0;
  const auto gapTo = [&](uint64_t to) {
    while (covered < to) {
      if (grouped == kGroup) groups.push_back(gaps.size()), grouped = 0;
      const uint64_t end = std::min(to, covered + (kGroup - grouped));
      gaps.push_back({pe::PeChecksum(field, covered), end});
      grouped += end - covered;
      covered = end;
    }
  };
  for (const pe::PeChecksum& p : pieces) {
    if (p.Start() < covered || p.Length() > fileSize) continue;
    gapTo(p.Start());
    kept.push_back(p);
    covered = p.Length();
  }
  gapTo(fileSize);
  groups.push_back(gaps.size());
  std::vector<std::unique_ptr<uint8_t[]>> buffers(WorkerCount());
  RunJobs(groups.size() - 1, [&](std::size_t i, std::size_t worker) {
    auto& buffer = buffers[worker];
    if (!buffer) buffer.reset(new (std::nothrow) uint8_t[kGapRead]);
    const std::span<Gap> group(gaps.data() + groups[i], groups[i + 1] - groups[i]);
    if (buffer && !group.empty()) SumGroup(file, group, buffer.get());
  });
  std::vector<pe::PeChecksum> summed;
  summed.reserve(gaps.size());
  for (const Gap& gap : gaps) {
    if (gap.sum.Length() != gap.end) return gap.sum.Length();
    summed.push_back(gap.sum);
  }
  pieces.clear();
  pieces.reserve(kept.size() + summed.size());
  std::ranges::merge(kept, summed, std::back_inserter(pieces), ByStart);
  return std::nullopt;
}

}  // namespace

void CheckFileChecksum(const platform::FileHandle& file, uint64_t fileSize,
                       const ChecksumField& field, std::vector<pe::PeChecksum> pieces,
                       FindingSink& sink) {
  if (const auto unread = Cover(file, fileSize, field.at, pieces)) {
    sink.Fault("the file cannot be read for its checksum", *unread);
    return;
  }
  pe::PeChecksum whole(field.at);
  for (const pe::PeChecksum& p : pieces) {
    if (!whole.Merge(p)) {
      sink.Fault("the file cannot be read for its checksum", p.Start());
      return;
    }
  }
  if (whole.Length() != fileSize) {
    sink.Fault("the file cannot be read for its checksum", whole.Length());
  } else if (whole.Value() != field.stored) {
    sink.Fault("the header checksum is stale: " + Hex(field.stored) + " stored, " +
                   Hex(whole.Value()) + " computed",
               field.at);
  }
}

}  // namespace check

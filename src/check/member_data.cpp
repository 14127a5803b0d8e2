#include "check/member_data.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "check/work_pool.h"
#include "zip/crc32.h"
#include "zip/zip_methods.h"
#include "zip/zip_records.h"

namespace check {

namespace {

// Stored data is summed in pieces of this size, apart, and joined with
// crc32_combine; every read takes kRead bytes at most, so that a worker
// holds two buffers of that size whatever the members' sizes.
constexpr uint64_t kPiece = uint64_t{16} << 20;
constexpr std::size_t kRead = std::size_t{1} << 20;
constexpr std::size_t kInflated = std::size_t{256} << 10;
// Data of at most this many bytes is read through the worker's window.
constexpr std::size_t kSmall = std::size_t{64} << 10;

struct Job {
  uint32_t member = 0;
  uint64_t offset = 0;  // within the member's data
  uint64_t length = 0;
};

struct Worker {
  Worker() = default;
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  ~Worker() {
    if (inflating) inflateEnd(&stream);
  }
  bool Ready() {
    if (!in) in.reset(new (std::nothrow) uint8_t[kRead]);
    if (!out) out.reset(new (std::nothrow) uint8_t[kInflated]);
    if (!window) window.reset(new (std::nothrow) uint8_t[kRead]);
    if (!inflating) inflating = inflateInit2(&stream, -MAX_WBITS) == Z_OK;
    return in && out && window && inflating;
  }

  std::unique_ptr<uint8_t[]> window;  // kRead bytes of the file from windowAt on
  uint64_t windowAt = 0;
  std::size_t windowLength = 0;
  std::unique_ptr<uint8_t[]> in;
  std::unique_ptr<uint8_t[]> out;
  z_stream stream{};
  bool inflating = false;
  std::optional<pe::PeChecksum> checksum;  // of the jobs' bytes, in any order
};

class DataCheck {
 public:
  DataCheck(const platform::FileHandle& file, const ArchiveWalk& walk, SummedRanges* summed,
            FindingSink& sink)
      : file_(file), walk_(walk), summed_(summed), sink_(sink), workers_(WorkerCount()) {
    if (summed) {
      for (Worker& w : workers_) w.checksum.emplace(summed->field);
    }
  }
  void Run();

 private:
  bool Readable(const MemberSpan& m);
  void RunJob(std::size_t index, Worker& w);
  const uint8_t* Small(Worker& w, uint64_t at, std::size_t length);
  bool Stored(const Job& job, Worker& w, uint32_t* crc, pe::PeChecksum* sum);
  bool Inflated(const MemberSpan& m, Worker& w, uint32_t* crc, pe::PeChecksum* sum);
  std::string Member(const MemberSpan& m) const { return "member '" + walk_.Name(m) + "'"; }

  const platform::FileHandle& file_;
  const ArchiveWalk& walk_;
  SummedRanges* summed_;  // the header checksum's, where one is summed
  FindingSink& sink_;
  std::vector<Worker> workers_;
  std::vector<Job> jobs_;
  std::vector<uint32_t> crcs_;  // per job
  std::vector<uint8_t> sound_;  // per job: read whole, and (inflated) of its size
};

// The header checksum of the bytes read, where one is summed.
void AddRead(pe::PeChecksum* sum, const uint8_t* data, std::size_t length) {
  if (sum != nullptr) sum->Add({data, length});
}

bool DataCheck::Readable(const MemberSpan& m) {
  using namespace trvzip;
  if (!m.located) return false;
  if ((m.flags & records::kFlagEncrypted) != 0) {
    sink_.Note(Member(m) + " is encrypted: its data is not checked", m.localAt);
    return false;
  }
  if (!IsExtractableMethod(m.method)) {
    sink_.Note(Member(m) + " uses the method " + MethodName(m.method) + " (" +
                   std::to_string(m.method) + "): its data is not checked",
               m.localAt);
    return false;
  }
  if (m.method == kMethodStored && m.compressedSize != m.uncompressedSize) {
    sink_.Fault(Member(m) + ": stored, but its two sizes differ", m.localAt);
    return false;
  }
  return true;
}

// Small members are read through the worker's window: one read of up to kRead
// bytes serves the members behind it as well, so that an archive of many small
// members costs few reads. Null when the file does not hold the bytes.
const uint8_t* DataCheck::Small(Worker& w, uint64_t at, std::size_t length) {
  if (at < w.windowAt || at + length > w.windowAt + w.windowLength) {
    const auto got = file_.ReadShared(at, w.window.get(), kRead);
    w.windowAt = at;
    w.windowLength = got ? *got : 0;
  }
  if (at + length > w.windowAt + w.windowLength) return nullptr;
  return w.window.get() + (at - w.windowAt);
}

bool DataCheck::Stored(const Job& job, Worker& w, uint32_t* crc, pe::PeChecksum* checksum) {
  const MemberSpan& m = walk_.members[job.member];
  if (job.length <= kSmall) {
    const uint8_t* data = Small(w, m.dataAt + job.offset, static_cast<std::size_t>(job.length));
    if (data == nullptr) {
      sink_.Fault(Member(m) + ": its data cannot be read whole", m.dataAt + job.offset);
      return false;
    }
    *crc = trvzip::Crc32(0, data, static_cast<std::size_t>(job.length));
    AddRead(checksum, data, static_cast<std::size_t>(job.length));
    return true;
  }
  uint32_t sum = 0;
  for (uint64_t done = 0; done < job.length;) {
    const auto want = static_cast<std::size_t>(std::min<uint64_t>(kRead, job.length - done));
    const auto got = file_.ReadShared(m.dataAt + job.offset + done, w.in.get(), want);
    if (!got || *got != want) {
      sink_.Fault(Member(m) + ": its data cannot be read whole", m.dataAt + job.offset + done);
      return false;
    }
    sum = trvzip::Crc32(sum, w.in.get(), want);
    AddRead(checksum, w.in.get(), want);
    done += want;
  }
  *crc = sum;
  return true;
}

// Inflates the member's data, no further than its declared size: a stream
// that would produce more (a bomb, or a damaged size) stops there.
bool DataCheck::Inflated(const MemberSpan& m, Worker& w, uint32_t* crc,
                         pe::PeChecksum* checksum) {
  z_stream& s = w.stream;
  inflateReset(&s);
  s.avail_in = 0;  // nothing a member before left unread counts for this one
  uint32_t sum = 0;
  uint64_t read = 0, produced = 0;
  if (m.compressedSize <= kSmall) {
    const uint8_t* data = Small(w, m.dataAt, static_cast<std::size_t>(m.compressedSize));
    if (data == nullptr) {
      sink_.Fault(Member(m) + ": its data cannot be read whole", m.dataAt);
      return false;
    }
    AddRead(checksum, data, static_cast<std::size_t>(m.compressedSize));
    s.next_in = const_cast<Bytef*>(data);
    s.avail_in = static_cast<uInt>(m.compressedSize);
    read = m.compressedSize;
  }
  int rc = Z_OK;
  while (rc == Z_OK) {
    if (s.avail_in == 0 && read < m.compressedSize) {
      const auto want =
          static_cast<std::size_t>(std::min<uint64_t>(kRead, m.compressedSize - read));
      const auto got = file_.ReadShared(m.dataAt + read, w.in.get(), want);
      if (!got || *got != want) {
        sink_.Fault(Member(m) + ": its data cannot be read whole", m.dataAt + read);
        return false;
      }
      AddRead(checksum, w.in.get(), want);
      read += want;
      s.next_in = w.in.get();
      s.avail_in = static_cast<uInt>(want);
    }
    s.next_out = w.out.get();
    s.avail_out = static_cast<uInt>(kInflated);
    rc = inflate(&s, Z_NO_FLUSH);
    const std::size_t n = kInflated - s.avail_out;
    sum = trvzip::Crc32(sum, w.out.get(), n);
    produced += n;
    if (produced > m.uncompressedSize) {
      sink_.Fault(Member(m) + ": its data inflates to more than its declared size", m.dataAt);
      return false;
    }
    if (rc == Z_BUF_ERROR && s.avail_in == 0 && read == m.compressedSize) break;
    if (rc == Z_BUF_ERROR) rc = Z_OK;  // no progress possible without more input
  }
  if (rc != Z_STREAM_END) {
    const bool cut = rc == Z_OK || rc == Z_BUF_ERROR;
    sink_.Fault(Member(m) + (cut ? ": its deflated data is cut short"
                                 : ": its deflated data is damaged"),
                m.dataAt);
    return false;
  }
  if (produced != m.uncompressedSize) {
    sink_.Fault(Member(m) + ": its data inflates to " + std::to_string(produced) +
                    " bytes, not the " + std::to_string(m.uncompressedSize) + " declared",
                m.dataAt);
    return false;
  }
  *crc = sum;
  return true;
}

void DataCheck::RunJob(std::size_t index, Worker& w) {
  const Job& job = jobs_[index];
  const MemberSpan& m = walk_.members[job.member];
  if (!w.Ready()) {
    sink_.Fault(Member(m) + ": no memory to check its data", m.dataAt);
    return;
  }
  uint32_t crc = 0;
  std::optional<pe::PeChecksum> piece;
  if (w.checksum) piece.emplace(summed_->field, m.dataAt + job.offset);
  pe::PeChecksum* checksum = piece ? &*piece : nullptr;
  const bool ok = m.method == trvzip::kMethodStored ? Stored(job, w, &crc, checksum)
                                                    : Inflated(m, w, &crc, checksum);
  if (piece) {
    w.checksum->Absorb(*piece);
    summed_->ranges[index] = {piece->Start(), piece->Length()};  // one job, one range
  }
  crcs_[index] = crc;
  sound_[index] = ok ? 1 : 0;
}

void DataCheck::Run() {
  for (std::size_t i = 0; i < walk_.members.size(); ++i) {
    const MemberSpan& m = walk_.members[i];
    if (!Readable(m)) continue;
    const auto member = static_cast<uint32_t>(i);
    if (m.method != trvzip::kMethodStored) {
      jobs_.push_back({member, 0, m.compressedSize});
      continue;
    }
    uint64_t offset = 0;
    do {
      const uint64_t length = std::min(kPiece, m.compressedSize - offset);
      jobs_.push_back({member, offset, length});
      offset += length;
    } while (offset < m.compressedSize);
  }
  crcs_.assign(jobs_.size(), 0);
  sound_.assign(jobs_.size(), 0);
  if (summed_) summed_->ranges.assign(jobs_.size(), {});
  RunJobs(jobs_.size(), [this](std::size_t index, std::size_t worker) {
    RunJob(index, workers_[worker]);
  });
  // A member's pieces are consecutive jobs, in order.
  for (std::size_t j = 0; j < jobs_.size();) {
    const MemberSpan& m = walk_.members[jobs_[j].member];
    bool sound = sound_[j] != 0;
    uLong crc = crcs_[j];
    std::size_t k = j + 1;
    for (; k < jobs_.size() && jobs_[k].member == jobs_[j].member; ++k) {
      sound = sound && sound_[k] != 0;
      crc = crc32_combine(crc, crcs_[k], static_cast<z_off_t>(jobs_[k].length));
    }
    if (sound && crc != m.crc32) {
      sink_.Fault(Member(m) + ": its data does not match its CRC-32", m.dataAt);
    }
    j = k;
  }
  if (summed_) {
    for (const Worker& w : workers_) summed_->sum.Absorb(*w.checksum);
  }
}

}  // namespace

void CheckMemberData(const platform::FileHandle& file, const ArchiveWalk& walk,
                     SummedRanges* summed, FindingSink& sink) {
  DataCheck(file, walk, summed, sink).Run();
}

}  // namespace check

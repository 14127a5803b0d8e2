// The header checksum from ranges the data check summed and the gaps between
// them read again: what it was handed in any form sums to the whole file's
// checksum, or is set aside for a whole read, and a file shorter than its
// size (cut since the size was taken) is a fault, not a checksum.

#include "check/file_checksum.h"

#include <gtest/gtest.h>

#include <random>

#include "test_support.h"

namespace {

constexpr uint64_t kField = 216;

struct Case {
  const char* name;
  std::vector<check::SummedRanges::Range> ranges;  // summed beforehand, each once
  int64_t sizeChange = 0;                          // the size the check is told, less the real
  uint32_t storedXor = 0;
  std::string fault = "";  // empty: none
};

TEST(FileChecksum, SumsRangesAndGapsToTheWholeFile) {
  std::mt19937 random(3);
  std::string bytes((3 << 20) + 11, '\0');
  for (char& b : bytes) b = static_cast<char>(random());
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint32_t stored = pe::ComputeChecksum({data, bytes.size()}, kField);
  const uint64_t size = bytes.size();
  const std::vector<Case> cases = {
      {"nothing summed before: every byte read", {}},
      {"ranges summed, the gaps between read",
       {{1000, 500001}, {500101, 2000000}, {size - 5, size}}},
      {"a range at the checksum field", {{200, 300}}},
      {"empty ranges", {{7, 7}, {7, 7}, {size, size}}},
      {"ranges given out of order", {{2000000, 2100000}, {10, 20}}},
      {"ranges that overlap: read whole instead", {{1000, 5000}, {3000, 9000}}},
      {"the file cut short since its size was taken", {}, 64, 0,
       "the file cannot be read for its checksum"},
      {"a stale stored value", {{1000, 2000}}, 0, 1, "the header checksum is stale"},
  };
  testsupport::TempDir dir;
  const std::string path = dir.File("package.exe");
  testsupport::WriteFile(path, bytes);
  platform::FileHandle file;
  ASSERT_TRUE(file.Open(path, platform::Access::Read, platform::Share::Read,
                        platform::Disposition::OpenExisting));
  for (const Case& c : cases) {
    check::SummedRanges summed(kField);
    for (const auto& r : c.ranges) {
      pe::PeChecksum piece(kField, r.from);
      piece.Add({data + r.from, static_cast<std::size_t>(r.to - r.from)});
      summed.sum.Absorb(piece);
      summed.ranges.push_back(r);
    }
    check::FindingSink sink;
    check::CheckFileChecksum(file, size + c.sizeChange, {kField, stored ^ c.storedXor},
                             std::move(summed), sink);
    const auto findings = sink.Take();
    if (c.fault.empty()) {
      EXPECT_TRUE(findings.empty()) << c.name << ": " << findings.front().what;
    } else {
      ASSERT_EQ(findings.size(), 1u) << c.name;
      EXPECT_EQ(findings[0].what.rfind(c.fault, 0), 0u) << c.name << ": " << findings[0].what;
    }
  }
}

}  // namespace

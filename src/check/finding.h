#pragma once
// What a check of a package finds: a fault (the package is not sound) or a
// note (something a user should know that does not make it unsound), each
// with what it is and where (a file offset). Findings are values; the caller
// decides how to show them.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace check {

struct Finding {
  enum class Kind { kFault, kNote } kind = Kind::kFault;
  std::string what;
  uint64_t where = 0;
};

bool HasFault(const std::vector<Finding>& findings);

// A value or file offset as findings show it: 0x and at least eight hex digits.
std::string Hex(uint64_t value);

// Collects findings from any number of threads. A damaged directory can
// yield a fault per member: past kKept of one kind, the rest are counted
// and summed up in one last finding of that kind, so that memory stays
// bounded whatever the archive claims.
class FindingSink {
 public:
  static constexpr std::size_t kKept = 1000;

  void Fault(std::string what, uint64_t where) {
    Add(Finding::Kind::kFault, std::move(what), where);
  }
  void Note(std::string what, uint64_t where) { Add(Finding::Kind::kNote, std::move(what), where); }
  void Add(Finding::Kind kind, std::string what, uint64_t where);
  bool AnyFault() const;
  // The findings in the order they were added, faults and notes apart only
  // by their kind, followed by the counts of those not kept.
  std::vector<Finding> Take();

 private:
  mutable std::mutex mutex_;
  std::vector<Finding> kept_;
  std::size_t faults_ = 0;
  std::size_t notes_ = 0;
};

}  // namespace check

#include "check/finding.h"

#include <algorithm>
#include <cstdio>

namespace check {

bool HasFault(const std::vector<Finding>& findings) {
  return std::ranges::any_of(findings,
                             [](const Finding& f) { return f.kind == Finding::Kind::kFault; });
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
  return text;
}

void FindingSink::Add(Finding::Kind kind, std::string what, uint64_t where) {
  const std::lock_guard lock(mutex_);
  std::size_t& count = kind == Finding::Kind::kFault ? faults_ : notes_;
  if (count++ < kKept) kept_.push_back({kind, std::move(what), where});
}

bool FindingSink::AnyFault() const {
  const std::lock_guard lock(mutex_);
  return faults_ > 0;
}

std::vector<Finding> FindingSink::Take() {
  const std::lock_guard lock(mutex_);
  std::vector<Finding> out = std::move(kept_);
  kept_.clear();
  const auto more = [&out](Finding::Kind kind, std::size_t count, const char* what) {
    if (count > kKept) {
      out.push_back({kind, std::to_string(count - kKept) + " further " + what, 0});
    }
  };
  more(Finding::Kind::kFault, faults_, "faults");
  more(Finding::Kind::kNote, notes_, "notes");
  faults_ = notes_ = 0;
  return out;
}

}  // namespace check

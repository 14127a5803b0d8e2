#include "check/work_pool.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace check {

std::size_t WorkerCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<std::size_t>(cores, 1, kMaxWorkers);
}

void RunJobs(std::size_t count, const std::function<void(std::size_t, std::size_t)>& job) {
  std::atomic<std::size_t> next{0};
  const auto work = [&](std::size_t worker) {
    for (std::size_t i = next++; i < count; i = next++) job(i, worker);
  };
  const std::size_t workers = std::min(WorkerCount(), count);
  std::vector<std::thread> threads;
  threads.reserve(workers > 0 ? workers - 1 : 0);
  try {
    for (std::size_t w = 1; w < workers; ++w) threads.emplace_back(work, w);
  } catch (...) {
    // No thread to be had: the threads started and this one do the work.
  }
  work(0);
  for (std::thread& t : threads) t.join();
}

}  // namespace check

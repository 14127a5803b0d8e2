#pragma once
// Runs independent jobs on every core: each worker takes the next job number
// from a shared counter until none is left, so that long and short jobs even
// out without a queue.

#include <cstddef>
#include <functional>

namespace check {

// The number of workers RunJobs uses: the machine's cores, at least one and
// at most kMaxWorkers (each holds read and inflate buffers of its own).
std::size_t WorkerCount();
inline constexpr std::size_t kMaxWorkers = 16;

// Calls job(index, worker) once for every index below count, on up to
// WorkerCount() threads (the caller's among them); worker tells the thread
// apart (0 .. WorkerCount() - 1), for state a job keeps per thread. Returns
// once every job has run. Jobs must not throw.
void RunJobs(std::size_t count, const std::function<void(std::size_t, std::size_t)>& job);

}  // namespace check

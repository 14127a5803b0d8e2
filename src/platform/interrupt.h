#pragma once
// Interruption by the user or the system (SIGINT, SIGTERM and SIGHUP; on
// Windows Ctrl-C, Ctrl-Break and closing the console). While an
// InterruptGuard lives, such a request does not end the process: it raises a
// flag that long operations poll, so that the work in progress can be undone
// before the process ends.

namespace platform {

class InterruptGuard {
 public:
  InterruptGuard();
  // Restores the previous handling, unless a request arrived meanwhile: the
  // process is then on its way out, and a second request must not cut its
  // clean-up or its exit short. The request stays visible through
  // Interrupted().
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// True once an interruption was requested while a guard was in place.
bool Interrupted();

// Forgets an earlier request (for tests).
void ClearInterrupted();

// Raises the flag as a request would (for tests and for the Windows console
// handler).
void RequestInterrupt();

}  // namespace platform

#include <csignal>
#include <iterator>

#include "platform/interrupt.h"

namespace platform {

namespace {

volatile std::sig_atomic_t requested = 0;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[sizeof kSignals / sizeof kSignals[0]];

extern "C" void OnInterrupt(int) { requested = 1; }

}  // namespace

InterruptGuard::InterruptGuard() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Restarted system calls: the flag is polled between steps, never in the
  // middle of one.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], &action, &previous[i]);
  }
}

InterruptGuard::~InterruptGuard() {
  if (Interrupted()) return;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], &previous[i], nullptr);
  }
}

bool Interrupted() { return requested != 0; }

void ClearInterrupted() { requested = 0; }

void RequestInterrupt() { requested = 1; }

}  // namespace platform

#include <windows.h>

#include <atomic>

#include "platform/interrupt.h"

namespace platform {

namespace {

std::atomic<bool> requested{false};

// Set while no guard lives: the work it covered is cleaned up.
HANDLE cleanedUp = nullptr;

// Windows ends the process once the handler returns from a close, logoff or
// shutdown event, so the handler holds on until the guard's work is undone;
// the system itself allows a few seconds only.
constexpr DWORD kCleanupWaitMs = 4000;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      requested = true;
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      requested = true;
      ::WaitForSingleObject(cleanedUp, kCleanupWaitMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

InterruptGuard::InterruptGuard() {
  // One event for the process, never closed: a handler still waiting on it
  // may outlive the guard.
  if (cleanedUp == nullptr) cleanedUp = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::ResetEvent(cleanedUp);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptGuard::~InterruptGuard() {
  ::SetEvent(cleanedUp);
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

bool Interrupted() { return requested; }

void ClearInterrupted() { requested = false; }

void RequestInterrupt() { requested = true; }

}  // namespace platform

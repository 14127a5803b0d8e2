#include <windows.h>

#include "platform/process.h"

namespace platform {

// A path on an empty drive or a failing disk must come back as an error
// code, not as a dialog box that waits for a user a build script lacks.
// A standard output handle that is not open is forgotten, so that its value,
// once the tool opens a file under it, never takes a line.
bool PrepareProcess() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::SetLastError(NO_ERROR);
  if (out != nullptr && out != INVALID_HANDLE_VALUE && ::GetFileType(out) == FILE_TYPE_UNKNOWN &&
      ::GetLastError() == ERROR_INVALID_HANDLE) {
    ::SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
  }
  return true;
}

}  // namespace platform

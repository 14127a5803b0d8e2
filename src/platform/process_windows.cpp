#include <windows.h>

#include "platform/process.h"

namespace platform {

// A path on an empty drive or a failing disk must come back as an error
// code, not as a dialog box that waits for a user a build script lacks.
void PrepareProcess() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
}

}  // namespace platform

#pragma once
// Process-wide set-up before the tool's first line of output.

namespace platform {

// POSIX: a reader that stops reading the progress lines must not kill a build
// half-way (SIGPIPE is ignored; the failed writes are not fatal).
void PrepareProcess();

}  // namespace platform

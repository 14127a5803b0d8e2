#pragma once
// Process-wide set-up before the tool's first line of output.

namespace platform {

// POSIX: a reader that stops reading the progress lines must not kill a build
// half-way (SIGPIPE is ignored; the failed writes are not fatal). With glibc,
// freed large blocks stay in the heap for the next archive open to reuse.
void PrepareProcess();

}  // namespace platform

#pragma once
// Process-wide set-up before the tool's first line of output.

namespace platform {

// POSIX: standard descriptors that are closed are opened on the null device,
// so that no line reaches a file the tool opens; a reader that stops reading
// the progress lines must not kill a build half-way (SIGPIPE is ignored; the
// failed writes are not fatal), nor must a file-size limit (SIGXFSZ ignored).
// With glibc, freed large blocks stay in the heap for the next archive open
// to reuse. Windows: a standard handle that is absent writes nowhere already.
// False when the process cannot be made safe to run; the tool then stops
// before it prints or opens anything.
bool PrepareProcess();

}  // namespace platform

#pragma once
// The command line: banner, usage, build, verification and exit code.

// Runs the tool on argv (program name first); returns the exit code.
int RunZipgraft(int argc, const char* const* argv);

#pragma once
// What the command line asks for: a build, or one of the options that stand
// alone (help, version, verifying a finished package).

enum class Request { Usage, Build, Help, Version, Verify };

struct CommandLine {
  Request request = Request::Usage;
  const char* package = nullptr;  // for Verify
};

// An option counts only as the whole command line: "--help", "-h" or
// "--version" alone, "--verify PACKAGE" as a pair. In the three- and
// four-argument forms every argument is a path, whatever it looks like.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// Prints the version line; the banner is not shown. Returns the exit code.
int ShowVersion();

// Everything but a build and the version, after the banner: the help, the
// usage, or the verification of an existing package. Returns the exit code.
int RunRequest(const CommandLine& command);

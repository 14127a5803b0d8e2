#pragma once
// Runs the tool as a child process that the test controls: its standard
// output goes to a file the test can watch while it runs, extra environment
// variables can be set, it can be sent signals, and its peak memory is known
// when it ends. POSIX only.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace e2e {

class ChildProcess {
 public:
  // Starts program with the arguments; stdout goes to stdoutPath, stderr is dropped.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& stdoutPath, const std::map<std::string, std::string>& env = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int signal) const;
  // Waits for the end; returns the exit code, or 128 + the signal that ended it.
  int Wait();
  // Peak resident memory in KiB, once Wait has returned.
  long PeakKiB() const { return peakKiB_; }

 private:
  pid_t pid_ = -1;
  long peakKiB_ = 0;
};

}  // namespace e2e

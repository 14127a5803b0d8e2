#pragma once
// The tool running in the background, for tests of two runs at once and of
// faults from outside: its standard output in a pipe the test reads from as
// lines arrive, extra environment variables, signals, and the run paused and
// resumed at will. Linux only, like the whole-program tests.

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {

class ToolProcess {
 public:
  // Starts the tool on args as RunZipgraft would. With writable set, the
  // tool's writes block once it has written that many bytes (under a page),
  // until the test reads: a gate it cannot pass on its own.
  explicit ToolProcess(const std::vector<std::string>& args,
                       std::optional<std::size_t> writable = std::nullopt,
                       const std::map<std::string, std::string>& env = {});
  ~ToolProcess();
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Reads output until it holds text; false when the run ends first.
  bool ReadUntil(const std::string& text);
  // True once the tool has written all it may past the gate.
  bool ReachesGate();
  // Whether the tool has path open now, and waiting until it has.
  bool HasOpen(const std::string& path) const;
  bool WaitUntilOpen(const std::string& path);
  void Pause();
  void Resume();
  void Signal(int signal);
  // Opens the gate, reads to the end and reaps the run; a run that a signal
  // ended has the exit code 128 + the signal.
  Run Finish();
  // The output read so far.
  const std::string& Output() const { return output_; }

 private:
  bool ReadSome(int timeoutMs);

  pid_t pid_ = -1;
  int out_ = -1;
  std::size_t capacity_ = 0;
  std::size_t filler_ = 0;
  std::string output_;
  bool ended_ = false;
};

}  // namespace e2e

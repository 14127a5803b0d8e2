#pragma once
// The tool running in the background, for tests of two runs at once and of
// faults from outside: its standard output in a pipe the test reads from as
// lines arrive, extra environment variables, signals, and the run paused and
// resumed at will. Linux only, like the whole-program tests.
//
// Every wait ends by a deadline, counted in time from the run's start (and
// from the start of the test for all its runs together), well inside the
// suite's timeout: a run that never gets where it should fails its test with
// a message saying what was waited for, and is killed.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {

class ToolProcess {
 public:
  using Clock = std::chrono::steady_clock;

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
  // Reads output until it holds text; fails when the run ends first.
  ::testing::AssertionResult ReadUntil(const std::string& text);
  // Succeeds once the tool has written all it may past the gate.
  ::testing::AssertionResult ReachesGate();
  // Whether the tool has path open now, and waiting until it has.
  bool HasOpen(const std::string& path) const;
  ::testing::AssertionResult WaitUntilOpen(const std::string& path);
  // Waits until the run has stopped itself (SIGSTOP), as the plant shim's
  // "stop" does.
  ::testing::AssertionResult WaitUntilStopped();
  void Pause();
  void Resume();
  void Signal(int signal);
  // Opens the gate, reads to the end and reaps the run; a run that a signal
  // ended has the exit code 128 + the signal. A run that outlives its
  // deadline fails the test, is killed and has the exit code -1.
  Run Finish();
  // The output read so far, gate filler left out.
  std::string Output() const;

 private:
  bool ReadSome(int timeoutMs);
  bool Late() const { return Clock::now() >= deadline_; }
  // What the failure of a wait for what says: the time allowed and the output.
  ::testing::AssertionResult Missed(const std::string& what) const;

  pid_t pid_ = -1;
  int out_ = -1;
  std::size_t capacity_ = 0;
  std::size_t filler_ = 0;
  std::string output_;
  bool ended_ = false;
  bool stopped_ = false;
  int status_ = 0;
  Clock::time_point deadline_;
};

}  // namespace e2e

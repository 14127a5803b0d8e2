#include "tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

extern char** environ;

namespace e2e {

namespace {

using Clock = ToolProcess::Clock;
using std::chrono::seconds;

// Far beyond what a run takes on a loaded machine with the sanitizers (a
// 200 MiB build in about 9 s, the six of the interruption test and theirs
// together in 65 s, under stress-ng --cpu 2 at load 6-7), and inside the
// suite's timeout of 300 s per test, so that the failure says what it was.
constexpr seconds kRunDeadline{kRunSeconds};
constexpr seconds kTestDeadline{240};
constexpr int kPollMs = 5;

// When the test that is running now must be done with its runs: counted from
// its first run.
Clock::time_point TestDeadline() {
  static std::string test;
  static Clock::time_point deadline;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name =
      info == nullptr ? std::string() : std::string(info->test_suite_name()) + "." + info->name();
  if (name != test || deadline == Clock::time_point()) {
    test = name;
    deadline = Clock::now() + kTestDeadline;
  }
  return deadline;
}

}  // namespace

ToolProcess::ToolProcess(const std::vector<std::string>& args, std::optional<std::size_t> writable,
                         const std::map<std::string, std::string>& env)
    : deadline_(std::min(Clock::now() + kRunDeadline, TestDeadline())) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
  out_ = pipeFds[0];
  if (writable) {
    // A pipe of one page, filled but for the bytes the tool may write: a
    // write that no longer fits blocks whole (writes under a page are atomic).
    const auto page = static_cast<int>(::sysconf(_SC_PAGESIZE));
    capacity_ = static_cast<std::size_t>(::fcntl(pipeFds[1], F_SETPIPE_SZ, page));
    if (capacity_ != static_cast<std::size_t>(page) || *writable >= capacity_) return;
    filler_ = capacity_ - *writable;
    if (::write(pipeFds[1], std::string(filler_, '#').data(), filler_) !=
        static_cast<ssize_t>(filler_)) {
      return;
    }
  }
  const std::vector<std::string> command = ToolCommand(args);
  std::vector<char*> argv;
  for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // The test's environment, with env's variables set over it.
  std::vector<std::string> variables;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string variable = *e;
    if (!env.count(variable.substr(0, variable.find('=')))) variables.push_back(variable);
  }
  for (const auto& [name, value] : env) variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) pid_ = pid;
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
}

ToolProcess::~ToolProcess() {
  if (pid_ > 0 && !ended_) {
    ::kill(pid_, SIGKILL);
    ::kill(pid_, SIGCONT);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
}

std::string ToolProcess::Output() const { return output_.substr(std::min(filler_, output_.size())); }

::testing::AssertionResult ToolProcess::Missed(const std::string& what) const {
  return ::testing::AssertionFailure()
         << (Late() ? "waited in vain for " : "the run ended before ") << what << " (the run's "
         << "deadline: " << kRunDeadline.count() << " s from its start, " << kTestDeadline.count()
         << " s for the test's runs together); it printed:\n"
         << Output();
}

bool ToolProcess::ReadSome(int timeoutMs) {
  pollfd ready{out_, POLLIN, 0};
  if (::poll(&ready, 1, timeoutMs) <= 0) return true;
  char buffer[4096];
  const ssize_t n = ::read(out_, buffer, sizeof buffer);
  if (n <= 0) return false;
  output_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

::testing::AssertionResult ToolProcess::ReadUntil(const std::string& text) {
  while (output_.find(text) == std::string::npos) {
    if (Late() || !ReadSome(kPollMs)) {
      if (output_.find(text) != std::string::npos) break;
      return Missed("the line \"" + text + "\"");
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ToolProcess::ReachesGate() {
  for (int queued = 0; ::ioctl(out_, FIONREAD, &queued) != 0 ||
                       static_cast<std::size_t>(queued) != capacity_;) {
    if (capacity_ == 0 || Late()) return Missed("the run to fill its output pipe up to the gate");
    ::usleep(kPollMs * 1000);
  }
  return ::testing::AssertionSuccess();
}

bool ToolProcess::HasOpen(const std::string& path) const {
  std::error_code ec;
  const std::string fds = "/proc/" + std::to_string(pid_) + "/fd";
  for (std::filesystem::directory_iterator it(fds, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(it->path(), linkError) == path) return true;
  }
  return false;
}

::testing::AssertionResult ToolProcess::WaitUntilOpen(const std::string& path) {
  // Polled briskly: the run holds the file only while it works on it.
  while (!HasOpen(path)) {
    if (Late()) return Missed("the run to open '" + path + "'");
    ::usleep(1000);
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ToolProcess::WaitUntilStopped() {
  if (!Started()) return ::testing::AssertionFailure() << "the run did not start";
  int status = 0;
  while (!stopped_) {
    const pid_t seen = ::waitpid(pid_, &status, WUNTRACED | WNOHANG);
    if (seen == pid_ && WIFSTOPPED(status)) {
      stopped_ = true;
    } else if (seen != 0 || Late()) {
      ended_ = seen == pid_;
      status_ = status;
      return Missed("the run to stop itself");
    } else {
      ::usleep(kPollMs * 1000);
    }
  }
  return ::testing::AssertionSuccess();
}

void ToolProcess::Pause() { ::kill(pid_, SIGSTOP); }

void ToolProcess::Resume() {
  stopped_ = false;
  ::kill(pid_, SIGCONT);
}

void ToolProcess::Signal(int signal) { ::kill(pid_, signal); }

Run ToolProcess::Finish() {
  if (!Started()) {
    ADD_FAILURE() << "the run did not start";
    return {-1, ""};
  }
  while (!Late() && ReadSome(kPollMs)) {
  }
  while (!ended_) {
    const pid_t seen = ::waitpid(pid_, &status_, WNOHANG);
    ended_ = seen == pid_;
    if (seen == 0 && !Late()) {
      ::usleep(kPollMs * 1000);
    } else if (!ended_) {
      break;
    }
  }
  if (!ended_) {
    ADD_FAILURE() << Missed("the run to end").message();
    ::kill(pid_, SIGKILL);
    ::kill(pid_, SIGCONT);
    ::waitpid(pid_, nullptr, 0);
    ended_ = true;
    return {-1, Output()};
  }
  const int exitCode = WIFSIGNALED(status_) ? 128 + WTERMSIG(status_)
                                            : WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  return {exitCode, Output()};
}

}  // namespace e2e

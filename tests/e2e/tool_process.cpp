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

// Bounds every wait, so that a broken run fails the test instead of hanging it.
constexpr int kPolls = 12000;
constexpr int kPollMs = 10;

}  // namespace

ToolProcess::ToolProcess(const std::vector<std::string>& args, std::optional<std::size_t> writable,
                         const std::map<std::string, std::string>& env) {
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

bool ToolProcess::ReadSome(int timeoutMs) {
  pollfd ready{out_, POLLIN, 0};
  if (::poll(&ready, 1, timeoutMs) <= 0) return true;
  char buffer[4096];
  const ssize_t n = ::read(out_, buffer, sizeof buffer);
  if (n <= 0) return false;
  output_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool ToolProcess::ReadUntil(const std::string& text) {
  for (int i = 0; i < kPolls; ++i) {
    if (output_.find(text) != std::string::npos) return true;
    if (!ReadSome(kPollMs)) return output_.find(text) != std::string::npos;
  }
  return false;
}

bool ToolProcess::ReachesGate() {
  for (int i = 0; i < kPolls; ++i) {
    int queued = 0;
    if (::ioctl(out_, FIONREAD, &queued) == 0 && static_cast<std::size_t>(queued) == capacity_) {
      return true;
    }
    ::usleep(kPollMs * 1000);
  }
  return false;
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

bool ToolProcess::WaitUntilOpen(const std::string& path) {
  // Polled briskly: the run holds the file only while it works on it.
  for (int i = 0; i < kPolls * 10; ++i) {
    if (HasOpen(path)) return true;
    ::usleep(1000);
  }
  return false;
}

void ToolProcess::Pause() { ::kill(pid_, SIGSTOP); }

void ToolProcess::Resume() { ::kill(pid_, SIGCONT); }

void ToolProcess::Signal(int signal) { ::kill(pid_, signal); }

Run ToolProcess::Finish() {
  for (int i = 0; i < kPolls && ReadSome(kPollMs); ++i) {
  }
  int status = 0;
  ::waitpid(pid_, &status, 0);
  ended_ = true;
  const int exitCode = WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                           : WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return {exitCode, output_.substr(std::min(filler_, output_.size()))};
}

}  // namespace e2e

#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace e2e {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& stdoutPath,
                           const std::map<std::string, std::string>& env) {
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ > 0) return;
  // Child: only async-signal-safe work beyond this point matters little, the
  // test process is single-threaded here.
  const int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int null = ::open("/dev/null", O_WRONLY);
  if (out < 0 || null < 0 || ::dup2(out, 1) < 0 || ::dup2(null, 2) < 0) ::_exit(126);
  for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    Wait();
  }
}

void ChildProcess::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

int ChildProcess::Wait() {
  int status = 0;
  struct rusage usage {};
  if (pid_ <= 0 || ::wait4(pid_, &status, 0, &usage) != pid_) return -1;
  pid_ = -1;
  peakKiB_ = usage.ru_maxrss;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace e2e

#include <csignal>

#include "platform/process.h"

namespace platform {

void PrepareProcess() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace platform

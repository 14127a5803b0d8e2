#include <csignal>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "platform/process.h"

namespace platform {

void PrepareProcess() {
  std::signal(SIGPIPE, SIG_IGN);
  // A build opens its archive three times (definition, rewrite, verification)
  // and allocates the same large member table and buffers each time. Kept in
  // the heap rather than mapped and unmapped, the later opens reuse pages that
  // are already faulted in instead of faulting in fresh ones.
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

}  // namespace platform

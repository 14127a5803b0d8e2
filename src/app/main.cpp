#include <csignal>

#include "app/zipgraft_main.h"

int main(int argc, char** argv) {
  // A reader that stops reading our progress lines must not kill a build
  // half-way, with its temporary file left behind.
  std::signal(SIGPIPE, SIG_IGN);
  return RunZipgraft(argc, argv);
}

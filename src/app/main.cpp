#include "app/zipgraft_main.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  if (!platform::PrepareProcess()) return 1;
  return RunZipgraft(argc, argv);
}

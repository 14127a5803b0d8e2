#include "app/zipgraft_main.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  platform::PrepareProcess();
  return RunZipgraft(argc, argv);
}

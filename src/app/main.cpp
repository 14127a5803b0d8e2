#include "app/zipgraft_main.h"

int main(int argc, char** argv) { return RunZipgraft(argc, argv); }

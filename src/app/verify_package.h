#pragma once
// `--verify PACKAGE`: the whole check of a finished package (its archive,
// every member's data, its image) and its load as a package, with a line for
// every fault and note found. Only reads.

// Prints the verdict; true when the package is sound.
bool VerifyExistingPackage(const char* path);

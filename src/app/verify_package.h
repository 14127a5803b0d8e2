#pragma once
// `--verify PACKAGE`: the whole check of a finished package (its archive,
// every member's data, its image) and its load as a package, with a line for
// every fault and note found. Only reads.

#include <string>

#include "check/finding.h"

// The line a finding is shown as, wherever it was found: an error line for a
// fault, a progress line for a note, each naming what was found and its file
// offset, on a line of its own.
std::string FindingLine(const check::Finding& finding);

// Prints the verdict; true when the package is sound.
bool VerifyExistingPackage(const char* path);

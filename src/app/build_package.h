#pragma once
// The build pipeline: stub test and copy, version update, archive rewrite and
// append, and the verification of the finished file.

enum class BuildOutcome { Failed, Verified, Unverified };

// Assembles OUTPUTFILE from the stub and the archive, then verifies the
// finished file. Failed: the reason has been printed and the build undone.
// Unverified: the verification's line has been printed, and the build has
// been undone as after a failure (the output back to the stub copy, or
// removed).
BuildOutcome BuildPackage(const char* stubPath, const char* archivePath, const char* outputPath,
                          const char16_t* passString);

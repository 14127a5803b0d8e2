#pragma once
// The build pipeline: stub copy, version update, archive rewrite and append.

#include <functional>
#include <string>

enum class BuildOutcome { Failed, Verified, Unverified };

// Assembles OUTPUTFILE from the stub and the archive, then runs verify on the
// finished file. Failed: the reason has been printed and the build undone.
// Unverified: verify returned false, and the build has been undone as after
// a failure (the output back to the stub copy, or removed).
BuildOutcome BuildPackage(const char* stubPath, const char* archivePath, const char* outputPath,
                          const char16_t* passString, const std::function<bool()>& verify);

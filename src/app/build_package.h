#pragma once
// The build pipeline: stub copy, version update, archive rewrite and append.

#include <functional>
#include <string>

#include "platform/file_handle.h"

enum class BuildOutcome { Failed, Verified, Unverified };

// Assembles OUTPUTFILE from the stub and the archive, then runs verify on the
// finished file, given its identity: what verify loads by name must be the
// file the build assembled. Failed: the reason has been printed and the build
// undone. Unverified: verify returned false, and the build has been undone as
// after a failure (the output back to the stub copy, or removed).
using Verification = std::function<bool(const platform::FileIdentity&)>;
BuildOutcome BuildPackage(const char* stubPath, const char* archivePath, const char* outputPath,
                          const char16_t* passString, const Verification& verify);

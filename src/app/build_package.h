#pragma once
// The build pipeline: stub copy, version update, archive rewrite and append.

#include <string>

// Assembles OUTPUTFILE from the stub and the archive. Returns true when the
// output has been assembled; on failure the reason has been printed.
bool BuildPackage(const char* stubPath, const char* archivePath, const char* outputPath,
                  const char16_t* passString);

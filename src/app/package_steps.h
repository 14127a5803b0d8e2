#pragma once
// The steps of the build that work on the package itself rather than on files:
// the stub test, the definition load, the version update and the verification.
// A failed step prints its line and throws the integer 1.

#include <string>

#include "platform/file_handle.h"

class TVPkg;

namespace pe {
class ImageFile;
}

// Refuses a stub that already carries a package named after itself.
void TestStub(const char* stubPath);

// Loads the definition named after the output from the archive.
void LoadDefinition(TVPkg& definition, const char* archivePath, const char* outputPath);

// Rewrites the output's version resource from the loaded definition; output
// is the output file's image, named outputPath.
void UpdateOutputVersion(const TVPkg& definition, pe::ImageFile& output, const char* outputPath,
                         const char16_t* passString);

// Whether the file loads as a package whose definition is named after it,
// and, when expected is given, whether the file loaded is that one. Prints
// nothing and only reads.
bool LoadsAsPackage(const char* path, const platform::FileIdentity* expected = nullptr);

// Loads the finished output, the file assembled, as a package; prints the
// verdict and returns it. Another file put at its name meanwhile fails.
bool VerifyPackage(const char* outputPath, const platform::FileIdentity& assembled);

#pragma once
// The steps of the build that work on the package itself rather than on files:
// the stub test, the definition load, the version update and the verification.
// A step prints its progress line and returns its failure, whose lines the
// build prints.

#include <string>

#include "app/step_failure.h"
#include "platform/file_handle.h"

class TVPkg;

namespace pe {
class ImageFile;
}

// Refuses a stub that already carries a package named after itself. The test
// reads stub, the stub at stubPath held open for the copy, so that the stub
// tested is the stub copied; a stub that could not be opened has nothing to
// test, and one that cannot be tested is closed: its copy fails.
StepResult TestStub(platform::FileHandle& stub, const char* stubPath);

// Loads the definition named after the output from the archive.
StepResult LoadDefinition(TVPkg& definition, const char* archivePath, const char* outputPath);

// Rewrites the output's version resource from the loaded definition; output
// is the output file's image, named outputPath.
StepResult UpdateOutputVersion(const TVPkg& definition, pe::ImageFile& output,
                               const char* outputPath, const char16_t* passString);

// Whether the file loads as a package whose definition is named after it,
// and, when expected is given, whether the file loaded is that one. Prints
// nothing and only reads.
bool LoadsAsPackage(const char* path, const platform::FileIdentity* expected = nullptr);

// The verification's failure: findings (lines of their own) and its line.
StepFailure VerificationFailure(const char* outputPath, std::vector<std::string> findings = {});

// Loads the finished output, the file assembled, as a package; prints the
// success line. Another file put at its name meanwhile fails.
StepResult VerifyPackage(const char* outputPath, const platform::FileIdentity& assembled);

#include "app/package_steps.h"

#include "package/member_name.h"
#include "package/tv_pkg.h"
#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "verinfo/version_update.h"

namespace {

std::string Shown(const char16_t* text) {
  return text != nullptr ? platform::Narrow(text) : std::string("(none)");
}

}  // namespace

void TestStub(const char* stubPath) {
  platform::ConsolePrint("\n- verifying '%s'", {stubPath});
  TVPkg probe;
  if (probe.HasPayload(stubPath, kDefaultLanguage)) {
    platform::ConsolePrint("\nERROR: the stub already has a .zip payload");
    platform::Beep(440, 250);
    throw 1;
  }
}

void LoadDefinition(TVPkg& definition, const char* archivePath, const char* outputPath) {
  const std::u16string member = DefinitionMemberName(outputPath);
  platform::ConsolePrint("\n- loading package definition from '%s'", {archivePath});
  if (!definition.Load(archivePath, member.c_str(), kDefaultLanguage)) {
    if (const std::string& cause = definition.GetFailureCause(); !cause.empty()) {
      platform::ConsolePrint("\nERROR: %s", {cause});
    }
    platform::ConsolePrint(
        "\nERROR: unable to load the zip file or locate a package definition file ('%s') in '%s'",
        {platform::Narrow(member), archivePath});
    throw 1;
  }
}

void UpdateOutputVersion(const TVPkg& definition, pe::ImageFile& output, const char* outputPath,
                         const char16_t* passString) {
  const char16_t* version = definition.GetVersion();
  const char16_t* name = definition.GetName();
  platform::ConsolePrint("\n- updating stub version information for:\n    %s\n    version %s\n",
                         {Shown(name), Shown(version)});
  if (const auto failure = UpdateVersionResourceWith(output, name, version, passString)) {
    platform::ConsoleWrite(failure->Message(outputPath));
    platform::ConsolePrint("\nERROR: unable to update the stub version information");
    throw 1;
  }
}

bool LoadsAsPackage(const char* path, const platform::FileIdentity* expected) {
  try {
    const std::u16string member = DefinitionMemberName(path);
    TVPkg package;
    if (!package.Load(path, member.c_str(), kDefaultLanguage)) return false;
    const auto& loaded = package.GetArchiveStamp();
    return expected == nullptr || (loaded && loaded->identity == *expected);
  } catch (...) {
    return false;
  }
}

bool VerifyPackage(const char* outputPath, const platform::FileIdentity& assembled) {
  const bool verified = LoadsAsPackage(outputPath, &assembled);
  if (verified) {
    platform::ConsolePrint("\n- package was created successfully.");
  } else {
    platform::ConsolePrint("\nERROR: unable to open and verify '%s'", {outputPath});
  }
  return verified;
}

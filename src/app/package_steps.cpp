#include "app/package_steps.h"

#include <utility>

#include "package/member_name.h"
#include "package/tv_pkg.h"
#include "platform/console.h"
#include "platform/text.h"
#include "verinfo/version_update.h"

namespace {

std::string Shown(const char16_t* text) {
  return text != nullptr ? platform::Narrow(text) : std::string("(none)");
}

}  // namespace

StepFailure Failure(std::string_view format, std::initializer_list<std::string_view> args) {
  return StepFailure{{platform::FormatText(format, args)}};
}

StepResult TestStub(platform::FileHandle& stub, const char* stubPath) {
  platform::ConsolePrint("\n- verifying '%s'", {stubPath});
  if (!stub.IsOpen()) return std::nullopt;
  platform::FileHandle probed = stub.Duplicate();
  if (!probed.IsOpen()) {
    stub.Close();
    return std::nullopt;
  }
  TVPkg probe;
  if (probe.HasPayload(std::move(probed), stubPath, kDefaultLanguage)) {
    StepFailure failure = Failure("\nERROR: the stub already has a .zip payload");
    failure.evenIfInterrupted = true;
    failure.beep = true;
    return failure;
  }
  return std::nullopt;
}

StepResult LoadDefinition(TVPkg& definition, const char* archivePath, const char* outputPath) {
  const std::u16string member = DefinitionMemberName(outputPath);
  platform::ConsolePrint("\n- loading package definition from '%s'", {archivePath});
  if (definition.Load(archivePath, member.c_str(), kDefaultLanguage)) return std::nullopt;
  StepFailure failure{{}, true};
  if (const std::string& cause = definition.GetFailureCause(); !cause.empty()) {
    failure.lines.push_back(platform::FormatText("\nERROR: %s", {cause}));
  }
  failure.lines.push_back(platform::FormatText(
      "\nERROR: unable to load the zip file or locate a package definition file ('%s') in '%s'",
      {platform::Narrow(member), archivePath}));
  return failure;
}

StepResult UpdateOutputVersion(const TVPkg& definition, pe::ImageFile& output,
                               const char* outputPath, const char16_t* passString) {
  const char16_t* version = definition.GetVersion();
  const char16_t* name = definition.GetName();
  platform::ConsolePrint("\n- updating stub version information for:\n    %s\n    version %s\n",
                         {Shown(name), Shown(version)});
  const auto updateFailure = UpdateVersionResourceWith(output, name, version, passString);
  if (!updateFailure) return std::nullopt;
  return StepFailure{{updateFailure->Message(outputPath),
                      "\nERROR: unable to update the stub version information"},
                     true};
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

StepFailure VerificationFailure(const char* outputPath, std::vector<std::string> findings) {
  findings.push_back(
      platform::FormatText("\nERROR: unable to open and verify '%s'", {outputPath}));
  return StepFailure{std::move(findings), true};
}

StepResult VerifyPackage(const char* outputPath, const platform::FileIdentity& assembled) {
  if (!LoadsAsPackage(outputPath, &assembled)) return VerificationFailure(outputPath);
  platform::ConsolePrint("\n- package was created successfully.");
  return std::nullopt;
}

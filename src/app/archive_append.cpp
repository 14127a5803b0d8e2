#include "app/archive_append.h"

#include "platform/console.h"
#include "platform/file_copy.h"

void AppendArchive(platform::FileHandle& temporary, platform::FileHandle& output,
                   const std::string& temporaryPath, const std::string& outputPath) {
  platform::ConsolePrint("\n- writing .zip data to '%s'", {outputPath});
  switch (platform::AppendConsuming(temporary, output)) {
    case platform::CopyResult::Done:
      return;
    case platform::CopyResult::ReadFailed:
      platform::ConsolePrint("\nERROR: unable to read '%s'", {temporaryPath});
      break;
    case platform::CopyResult::WriteFailed:
      platform::ConsolePrint("\nERROR: unable to write '%s'", {outputPath});
      break;
    case platform::CopyResult::Interrupted:
      break;
  }
  throw 1;
}

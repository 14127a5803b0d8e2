#include "app/archive_append.h"

#include <memory>

#include "platform/console.h"

namespace {
constexpr std::size_t kCopyBufferSize = 0x100000;
}

void AppendArchive(platform::FileHandle& temporary, platform::FileHandle& output,
                   const std::string& temporaryPath, const std::string& outputPath) {
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kCopyBufferSize]);
  platform::ConsolePrint("\n- writing .zip data to '%s'", {outputPath});
  while (true) {
    const auto got = temporary.Read(buffer.get(), kCopyBufferSize);
    if (!got) {
      platform::ConsolePrint("\nERROR: unable to read '%s'", {temporaryPath});
      throw 1;
    }
    if (*got == 0) break;
    if (!output.Write(buffer.get(), *got)) {
      platform::ConsolePrint("\nERROR: unable to write '%s'", {outputPath});
      throw 1;
    }
  }
}

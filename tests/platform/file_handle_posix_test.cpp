// What only POSIX systems need: the emulated rules against pipes, devices
// and links, and signals turned into a polled request.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/file_handle.h"
#include "platform/interrupt.h"
#include "test_support.h"

using platform::Access;
using platform::Disposition;
using platform::FileHandle;
using platform::Share;

namespace {

TEST(FileHandlePosix, OnlyRegularFilesOpen) {
  testsupport::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0644), 0);
  FileHandle h;
  // Would block for ever if the open waited for a writer.
  EXPECT_FALSE(h.Open(dir.File("pipe"), Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_FALSE(h.Open("/dev/zero", Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_FALSE(h.Open(dir.Path().string(), Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(h.LastError(), platform::kErrorAccessDenied);
  // Nor is anything but a file or a link removed to make room for a new file.
  EXPECT_FALSE(h.Open(dir.File("pipe"), Access::Write, Share::None, Disposition::CreateAlways));
  EXPECT_TRUE(std::filesystem::is_fifo(dir.File("pipe")));
}

TEST(FileHandlePosix, ReplacementNeverFollowsALink) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("precious"), std::string("precious"));
  std::filesystem::create_symlink(dir.File("precious"), dir.File("link"));
  std::filesystem::create_symlink(dir.File("nowhere"), dir.File("dangling"));
  FileHandle h;
  ASSERT_TRUE(h.Open(dir.File("link"), Access::Write, Share::None, Disposition::CreateAlways));
  ASSERT_TRUE(h.Write("x", 1));
  ASSERT_TRUE(h.Open(dir.File("dangling"), Access::Write, Share::None, Disposition::CreateAlways));
  h.Close();
  EXPECT_FALSE(std::filesystem::is_symlink(dir.File("link")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("nowhere")));
  EXPECT_EQ(testsupport::ReadFile(dir.File("precious")).size(), 8u);
}

TEST(InterruptGuard, SignalsBecomeARequestWhileTheGuardLives) {
  platform::ClearInterrupted();
  auto previous = std::signal(SIGHUP, SIG_IGN);
  // Without a request, the guard gives the signals back as they were.
  { platform::InterruptGuard guard; }
  ASSERT_EQ(std::raise(SIGHUP), 0);
  EXPECT_FALSE(platform::Interrupted());
  {
    platform::InterruptGuard guard;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      platform::ClearInterrupted();
      ASSERT_EQ(std::raise(signal), 0);
      EXPECT_TRUE(platform::Interrupted()) << signal;
    }
  }
  // After a request they stay caught: the process is ending and a second
  // request must not cut that short.
  EXPECT_TRUE(platform::Interrupted());
  ASSERT_EQ(std::raise(SIGINT), 0);
  EXPECT_TRUE(platform::Interrupted());
  platform::ClearInterrupted();
  std::signal(SIGHUP, previous);
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

}  // namespace

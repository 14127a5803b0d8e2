#include "platform/file_handle.h"
#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_support.h"

using platform::Access;
using platform::Disposition;
using platform::FileHandle;
using platform::Share;

namespace {

TEST(FileHandle, SharingRulesFollowTheRequestedAccess) {
  testsupport::TempDir dir;
  const auto path = dir.File("a.bin");
  testsupport::WriteFile(path, std::string("hello"));

  FileHandle reader1, reader2, writer;
  ASSERT_TRUE(reader1.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_TRUE(reader2.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_FALSE(writer.Open(path, Access::ReadWrite, Share::None, Disposition::OpenExisting));
  EXPECT_EQ(writer.LastError(), platform::kErrorSharingViolation);
  reader1.Close();
  reader2.Close();

  ASSERT_TRUE(writer.Open(path, Access::ReadWrite, Share::None, Disposition::OpenExisting));
  FileHandle another;
  EXPECT_FALSE(another.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
  // Creating anew over a file held unshared must fail and must not truncate it.
  EXPECT_FALSE(another.Open(path, Access::ReadWrite, Share::None, Disposition::CreateAlways));
  writer.Close();
  EXPECT_EQ(testsupport::ReadFile(path).size(), 5u);
}

TEST(FileHandle, ReadOnlyFileRefusesWritingEvenForRoot) {
  testsupport::TempDir dir;
  const auto path = dir.File("ro.zip");
  testsupport::WriteFile(path, std::string("data"));
  ::chmod(path.c_str(), 0444);
  FileHandle h;
  EXPECT_FALSE(h.Open(path, Access::ReadWrite, Share::None, Disposition::OpenExisting));
  EXPECT_EQ(h.LastError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(h.Open(path, Access::Write, Share::None, Disposition::CreateAlways));
  EXPECT_TRUE(h.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
}

TEST(FileHandle, OnlyRegularFilesOpen) {
  testsupport::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0644), 0);
  FileHandle h;
  // Would block for ever if the open waited for a writer.
  EXPECT_FALSE(h.Open(dir.File("pipe"), Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_FALSE(h.Open("/dev/zero", Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_FALSE(h.Open(dir.Path().string(), Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(h.LastError(), platform::kErrorAccessDenied);
}

TEST(FileHandle, MissingFileAndCreation) {
  testsupport::TempDir dir;
  FileHandle h;
  EXPECT_FALSE(h.Open(dir.File("none"), Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(h.LastError(), platform::kErrorFileNotFound);
  testsupport::WriteFile(dir.File("old"), std::string("old contents"));
  ASSERT_TRUE(h.Open(dir.File("old"), Access::ReadWrite, Share::None, Disposition::CreateAlways));
  EXPECT_EQ(h.Size().value(), 0u);
  ASSERT_TRUE(h.Write("abc", 3));
  ASSERT_EQ(h.Seek(1).value(), 1u);
  char buf[8] = {};
  EXPECT_EQ(h.Read(buf, sizeof buf).value(), 2u);
  EXPECT_EQ(std::string(buf, 2), "bc");
  EXPECT_EQ(h.Read(buf, sizeof buf).value(), 0u);
}

TEST(FileSystem, CopyReplacesTargetAndKeepsItWritable) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("src"), std::string("stub bytes"));
  ::chmod(dir.File("src").c_str(), 0555);
  testsupport::WriteFile(dir.File("dst"), std::string("a much longer old target file"));
  ASSERT_TRUE(platform::CopyFileReplacing(dir.File("src"), dir.File("dst")));
  EXPECT_EQ(testsupport::ReadFile(dir.File("dst")), testsupport::ReadFile(dir.File("src")));
  FileHandle h;
  EXPECT_TRUE(h.Open(dir.File("dst"), Access::Write, Share::None, Disposition::OpenExisting));
  h.Close();
  EXPECT_FALSE(platform::CopyFileReplacing(dir.File("src"), dir.File("src")));
  EXPECT_FALSE(platform::CopyFileReplacing(dir.File("missing"), dir.File("dst2")));
}

TEST(FileSystem, FileNameComponentSplitsLikeWindowsPaths) {
  using platform::FileNameComponent;
  EXPECT_EQ(FileNameComponent("D:\\out\\SETUP42.exe"), "SETUP42");
  EXPECT_EQ(FileNameComponent("/tmp/out/pkg"), "pkg");
  EXPECT_EQ(FileNameComponent("a.b.exe"), "a.b");
  EXPECT_EQ(FileNameComponent("dir.d/name"), "name");
  EXPECT_EQ(FileNameComponent("C:x.exe"), "x");
  EXPECT_EQ(FileNameComponent(".hidden"), "");
}

}  // namespace

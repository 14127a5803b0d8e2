// File handles and file operations as the rest of the tool relies on them:
// sharing, read-only files, replacement by a new file, positions, identity,
// copies. Portable: the same tests run on every system.

#include "platform/file_handle.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_copy.h"
#include "platform/file_system.h"
#include "platform/interrupt.h"
#include "platform/windows_entry.h"
#include "test_support.h"

using platform::Access;
using platform::Disposition;
using platform::FileHandle;
using platform::Share;

namespace {

namespace fs = std::filesystem;

void MakeReadOnly(const std::string& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

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
  // Replacing a file held unshared must fail and leave it as it is.
  EXPECT_FALSE(another.Open(path, Access::ReadWrite, Share::None, Disposition::CreateAlways));
  writer.Close();
  EXPECT_EQ(testsupport::ReadText(path), "hello");
}

TEST(FileHandle, ReadOnlyFileRefusesWritingAndReplacementEvenForRoot) {
  testsupport::TempDir dir;
  const auto path = dir.File("ro.zip");
  testsupport::WriteFile(path, std::string("data"));
  MakeReadOnly(path);
  FileHandle h;
  EXPECT_FALSE(h.Open(path, Access::ReadWrite, Share::None, Disposition::OpenExisting));
  EXPECT_EQ(h.LastError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(h.Open(path, Access::Write, Share::None, Disposition::CreateAlways));
  EXPECT_EQ(h.LastError(), platform::kErrorAccessDenied);
  EXPECT_TRUE(h.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(testsupport::ReadText(path), "data");
}

TEST(FileHandle, ReplacementIsANewFileThatLeavesOtherNamesAlone) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("old"), std::string("old contents"));
  fs::create_hard_link(dir.File("old"), dir.File("second"));
  FileHandle h;
  ASSERT_TRUE(h.Open(dir.File("old"), Access::ReadWrite, Share::None, Disposition::CreateAlways));
  EXPECT_EQ(h.Size().value(), 0u);
  ASSERT_TRUE(h.Write("new", 3));
  h.Close();
  EXPECT_EQ(testsupport::ReadText(dir.File("old")), "new");
  // The data behind the other name was neither truncated nor written.
  EXPECT_EQ(testsupport::ReadText(dir.File("second")), "old contents");
  // A directory is never removed to make room.
  fs::create_directory(dir.File("sub"));
  EXPECT_FALSE(h.Open(dir.File("sub"), Access::Write, Share::None, Disposition::CreateAlways));
  EXPECT_TRUE(fs::is_directory(dir.File("sub")));
}

// Remove takes the file the handle holds and nothing else: not a file
// renamed onto its name since, and no helper entry left beside it; where its
// folder was renamed meanwhile, the file still goes.
TEST(FileHandle, RemoveTakesOnlyTheFileItHolds) {
  const struct {
    const char* change;
    bool removed;
  } cases[] = {{"none", true}, {"file renamed onto the name", false}, {"folder renamed", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    testsupport::TempDir dir;
    fs::create_directory(dir.File("out"));
    std::string path = dir.File("out/SETUP42.exe.tmp");
    FileHandle h;
    ASSERT_TRUE(h.Open(path, Access::ReadWrite, Share::None, Disposition::CreateAlways));
    ASSERT_TRUE(h.Write("ours", 4));
    std::error_code refused;
    if (c.change == std::string("file renamed onto the name")) {
      testsupport::WriteFile(dir.File("theirs"), std::string("theirs"));
      fs::rename(dir.File("theirs"), path, refused);
    } else if (c.change == std::string("folder renamed")) {
      fs::rename(dir.File("out"), dir.File("moved"), refused);
    }
    // Windows renames nothing onto or above a file held without sharing.
    if (refused) continue;
#ifdef _WIN32
    // Wine moves the folder all the same, and then deletes by the name the file was opened
    // with; Windows deletes by the handle, wherever the file has gone.
    if (c.change == std::string("folder renamed")) continue;
#endif
    EXPECT_EQ(h.Remove(path), c.removed);
    EXPECT_FALSE(h.IsOpen());
    const std::string folder = dir.File(c.removed && c.change != std::string("none") ? "moved"
                                                                                      : "out");
    const auto left = std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    EXPECT_EQ(left, c.removed ? 0 : 1);
    if (!c.removed) {
      EXPECT_EQ(testsupport::ReadText(path), "theirs");
    }
  }
}

// What stands at the output's name on Windows, and how it may go. Wine cannot
// make reparse points other than links, so the rule is held here, on every
// system, from the attributes and tags Windows reports.
TEST(FileHandle, WindowsReplacementGoesByTheEntryAReparsePointStandsFor) {
  using platform::Replacement;
  constexpr uint32_t kReadOnly = platform::kAttributeReadOnly;
  constexpr uint32_t kFolder = platform::kAttributeDirectory;
  constexpr uint32_t kReparse = platform::kAttributeReparsePoint;
  constexpr uint32_t kArchive = 0x20, kDedup = 0x80000013, kCloud = 0x9000001A;
  const struct {
    const char* entry;
    uint32_t attributes;
    uint32_t tag;
    Replacement replacement;
  } cases[] = {
      {"a file", kArchive, 0, Replacement::kAsFile},
      {"a read-only file", kArchive | kReadOnly, 0, Replacement::kNever},
      {"a folder", kFolder, 0, Replacement::kNever},
      {"a symbolic link to a read-only file", kReparse | kReadOnly, platform::kReparseTagSymlink,
       Replacement::kAsLink},
      {"a junction", kReparse | kFolder, platform::kReparseTagMountPoint, Replacement::kAsLink},
      {"a deduplicated file", kReparse | kArchive, kDedup, Replacement::kAsFile},
      {"a deduplicated read-only file", kReparse | kReadOnly, kDedup, Replacement::kNever},
      {"a cloud placeholder folder", kReparse | kFolder, kCloud, Replacement::kNever},
      {"a link tag without the reparse attribute", kReadOnly, platform::kReparseTagSymlink,
       Replacement::kNever},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::ReplacementOf(c.attributes, c.tag), c.replacement) << c.entry;
  }
}

TEST(FileHandle, PositionsSizesAndIdentity) {
  testsupport::TempDir dir;
  FileHandle h;
  EXPECT_FALSE(h.Open(dir.File("none"), Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(h.LastError(), platform::kErrorFileNotFound);
  ASSERT_TRUE(h.Open(dir.File("f"), Access::ReadWrite, Share::None, Disposition::CreateAlways));
  ASSERT_TRUE(h.Write("abcdef", 6));
  char buf[8] = {};
  EXPECT_EQ(h.ReadAt(1, buf, 2).value(), 2u);
  EXPECT_EQ(std::string(buf, 2), "bc");
  EXPECT_EQ(h.ReadAt(4, buf, sizeof buf).value(), 2u);
  EXPECT_EQ(std::string(buf, 2), "ef");
  ASSERT_TRUE(h.WriteAt(2, "XY", 2));
  ASSERT_TRUE(h.Truncate(5));
  EXPECT_EQ(h.Size().value(), 5u);
  EXPECT_EQ(h.ReadAt(0, buf, sizeof buf).value(), 5u);
  EXPECT_EQ(std::string(buf, 5), "abXYe");

  FileHandle same, other;
  testsupport::WriteFile(dir.File("g"), std::string("g"));
  h.Close();
  ASSERT_TRUE(h.Open(dir.File("f"), Access::Read, Share::Read, Disposition::OpenExisting));
  ASSERT_TRUE(same.Open(dir.File("f"), Access::Read, Share::Read, Disposition::OpenExisting));
  ASSERT_TRUE(other.Open(dir.File("g"), Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(h.Identity().value(), same.Identity().value());
  EXPECT_NE(h.Identity().value(), other.Identity().value());
  EXPECT_TRUE(platform::IsSameFile(dir.File("f"), dir.File("./f")));
  EXPECT_FALSE(platform::IsSameFile(dir.File("f"), dir.File("g")));
}

// A duplicate is the same open file: its reads see the other handle's writes,
// it keeps the file and its sharing after the first handle is closed, and a
// closed handle gives a closed duplicate.
TEST(FileHandle, DuplicateIsTheSameOpenFile) {
  testsupport::TempDir dir;
  const auto path = dir.File("held");
  FileHandle first;
  ASSERT_TRUE(first.Open(path, Access::ReadWrite, Share::None, Disposition::CreateAlways));
  ASSERT_TRUE(first.Write("abcdef", 6));
  FileHandle second = first.Duplicate();
  ASSERT_TRUE(second.IsOpen()) << second.LastError();
  EXPECT_NE(second.Native(), first.Native());
  EXPECT_EQ(second.Identity().value(), first.Identity().value());
  ASSERT_TRUE(first.WriteAt(1, "XY", 2));
  char buf[8] = {};
  EXPECT_EQ(second.ReadAt(0, buf, sizeof buf).value(), 6u);
  EXPECT_EQ(std::string(buf, 6), "aXYdef");
  ASSERT_TRUE(second.WriteAt(6, "g", 1));
  EXPECT_EQ(first.Size().value(), 7u);

  first.Close();
  FileHandle other;
  EXPECT_FALSE(other.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(second.ReadAt(5, buf, 2).value(), 2u);
  EXPECT_EQ(std::string(buf, 2), "fg");
  second.Close();
  EXPECT_TRUE(other.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));

  const FileHandle closed;
  const FileHandle none = closed.Duplicate();
  EXPECT_FALSE(none.IsOpen());
  EXPECT_EQ(none.LastError(), platform::kErrorInvalidParameter);
}

TEST(FileCopy, AppendsBackToFrontAndConsumesTheSource) {
  testsupport::TempDir dir;
  // Several pieces, and one piece larger than the data that takes the copy
  // buffer several times.
  const std::string data = testsupport::Pattern((9 << 20) + 12345);
  FileHandle in, out;
  for (const uint64_t piece : {uint64_t{1} << 20, platform::kAppendPiece}) {
    testsupport::WriteFile(dir.File("src"), data);
    testsupport::WriteFile(dir.File("dst"), std::string("head"));
    ASSERT_TRUE(in.Open(dir.File("src"), Access::ReadWrite, Share::None, Disposition::OpenExisting));
    ASSERT_TRUE(out.Open(dir.File("dst"), Access::Write, Share::None, Disposition::OpenExisting));
    EXPECT_EQ(platform::AppendConsuming(in, out, piece), platform::CopyResult::Done);
    EXPECT_EQ(in.Size().value(), 0u);
    in.Close();
    out.Close();
    EXPECT_EQ(testsupport::ReadText(dir.File("dst")), "head" + data) << piece;
  }

  // A target that cannot be written is the failing side; the source keeps
  // what was not copied.
  testsupport::WriteFile(dir.File("src"), data);
  ASSERT_TRUE(in.Open(dir.File("src"), Access::ReadWrite, Share::None, Disposition::OpenExisting));
  ASSERT_TRUE(out.Open(dir.File("dst"), Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(platform::AppendConsuming(in, out, 1 << 20), platform::CopyResult::WriteFailed);
  EXPECT_EQ(in.Size().value(), data.size());

  platform::RequestInterrupt();
  EXPECT_EQ(platform::AppendConsuming(in, out), platform::CopyResult::Interrupted);
  platform::ClearInterrupted();
}

}  // namespace

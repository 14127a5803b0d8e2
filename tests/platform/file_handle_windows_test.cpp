// What only Windows has: sharing modes other programs ask for, the read-only
// attribute, reparse points, devices by name, case-blind names, long and
// non-ASCII paths.

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "test_support.h"

using platform::Access;
using platform::Disposition;
using platform::FileHandle;
using platform::Share;

namespace {

namespace fs = std::filesystem;

std::wstring Wide(const std::string& utf8) {
  const std::u16string w = platform::Wtf8ToUtf16(utf8);
  return std::wstring(w.begin(), w.end());
}

// A handle as another program would hold it.
HANDLE Hold(const std::string& path, DWORD access, DWORD share) {
  return ::CreateFileW(Wide(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(FileHandleWindows, SharingModesOfOtherHandlesAreHonoured) {
  testsupport::TempDir dir;
  const auto path = dir.File("held.zip");
  testsupport::WriteFile(path, std::string("held"));

  // Held without sharing: no second open, and no replacement by name.
  const HANDLE exclusive = Hold(path, GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  FileHandle h;
  EXPECT_FALSE(h.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(h.LastError(), platform::kErrorSharingViolation);
  EXPECT_FALSE(h.Open(path, Access::Write, Share::None, Disposition::CreateAlways));
  EXPECT_EQ(h.LastError(), platform::kErrorSharingViolation);
  ::CloseHandle(exclusive);
  EXPECT_EQ(testsupport::ReadText(path), "held");

  // A reader that shares reading only: our reader opens, our writer does not.
  const HANDLE reader = Hold(path, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(h.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
  FileHandle writer;
  EXPECT_FALSE(writer.Open(path, Access::ReadWrite, Share::None, Disposition::OpenExisting));
  EXPECT_EQ(writer.LastError(), platform::kErrorSharingViolation);
  ::CloseHandle(reader);

  // Our shared reader lets no other program write, however much that one shares.
  const HANDLE otherWriter =
      Hold(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  EXPECT_EQ(otherWriter, INVALID_HANDLE_VALUE);
  if (otherWriter != INVALID_HANDLE_VALUE) ::CloseHandle(otherWriter);
}

TEST(FileHandleWindows, ReadOnlyAttributeRefusesWritingUntilCleared) {
  testsupport::TempDir dir;
  const auto path = dir.File("ro.exe");
  testsupport::WriteFile(path, std::string("program"));
  ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
  FileHandle h;
  EXPECT_FALSE(h.Open(path, Access::Write, Share::None, Disposition::OpenExisting));
  EXPECT_EQ(h.LastError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(h.Open(path, Access::Write, Share::None, Disposition::CreateAlways));
  EXPECT_EQ(h.LastError(), platform::kErrorAccessDenied);
  EXPECT_EQ(testsupport::ReadText(path), "program");

  // A copy carrying the attribute is made writable again.
  FileHandle source, copy;
  ASSERT_TRUE(source.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
  ASSERT_TRUE(copy.Open(dir.File("copy.exe"), Access::Write, Share::None,
                        Disposition::CreateAlways));
  ASSERT_TRUE(::SetFileAttributesW(Wide(dir.File("copy.exe")).c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(platform::CopyPermissions(source, copy));
  copy.Close();
  EXPECT_EQ(::GetFileAttributesW(Wide(dir.File("copy.exe")).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A reparse point of another vendor's tag on the entry at path, as a
// deduplication or cloud filter sets one, or taken off again; the error code
// where the system keeps none (Wine 8 keeps none at all).
DWORD ForeignReparsePoint(const std::string& path, bool set) {
  const HANDLE entry = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                     nullptr);
  if (entry == INVALID_HANDLE_VALUE) return ::GetLastError();
  struct {
    DWORD tag;
    WORD length;
    WORD reserved;
    GUID vendor;
    BYTE data[4];
  } point{0x00001234, set ? WORD{4} : WORD{0}, 0,
          {0x6b0a1e6e, 0x3d5c, 0x4e2f, {1, 2, 3, 4, 5, 6, 7, 8}}, {1, 2, 3, 4}};
  DWORD done = 0;
  const DWORD size = set ? sizeof point : REPARSE_GUID_DATA_BUFFER_HEADER_SIZE;
  const BOOL ok = ::DeviceIoControl(entry, set ? FSCTL_SET_REPARSE_POINT : FSCTL_DELETE_REPARSE_POINT,
                                    &point, size, nullptr, 0, &done, nullptr);
  const DWORD why = ok ? ERROR_SUCCESS : ::GetLastError();
  ::CloseHandle(entry);
  return why;
}

// A reparse point that is no link is the file or folder it stands for: a
// read-only file or a folder is not removed to make room, a writable file is.
TEST(FileHandleWindows, ReparsePointsThatAreNoLinksAreTheirFiles) {
  testsupport::TempDir dir;
  const struct {
    const char* name;
    bool folder, readOnly, replaced;
  } cases[] = {
      {"readonly.exe", false, true, false},
      {"folder", true, false, false},
      {"writable.exe", false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    if (c.folder) {
      fs::create_directory(path);
    } else {
      testsupport::WriteFile(path, std::string("data"));
    }
    if (const DWORD why = ForeignReparsePoint(path, true)) {
      GTEST_SKIP() << "this system keeps no reparse points here (error " << why << ")";
    }
    if (c.readOnly) {
      ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    FileHandle h;
    EXPECT_EQ(h.Open(path, Access::Write, Share::None, Disposition::CreateAlways), c.replaced);
    h.Close();
    if (!c.replaced) {
      EXPECT_EQ(h.LastError(), platform::kErrorAccessDenied);
      EXPECT_NE(::GetFileAttributesW(Wide(path).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
      ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
      EXPECT_EQ(ForeignReparsePoint(path, false), DWORD{ERROR_SUCCESS});
    }
  }
}

TEST(FileHandleWindows, DevicesAndPipesAreNotFiles) {
  FileHandle h;
  for (const char* device : {"NUL", "CON", "\\\\.\\NUL"}) {
    SCOPED_TRACE(device);
    EXPECT_FALSE(h.Open(device, Access::Read, Share::Read, Disposition::OpenExisting));
    EXPECT_FALSE(h.Open(device, Access::Write, Share::None, Disposition::CreateAlways));
  }
  const std::string pipeName = "\\\\.\\pipe\\zipgraft-test-" + std::to_string(::GetCurrentProcessId());
  const HANDLE pipe = ::CreateNamedPipeW(Wide(pipeName).c_str(), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(h.Open(pipeName, Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(h.LastError(), platform::kErrorAccessDenied);
  ::CloseHandle(pipe);
}

TEST(FileHandleWindows, NamesAreCaseBlindAndEitherSlashSeparates) {
  testsupport::TempDir dir;
  const auto path = dir.File("Package.ZIP");
  testsupport::WriteFile(path, std::string("x"));
  const std::string folded = (dir.Path() / "pACKAGE.zip").string();
  FileHandle a, b;
  ASSERT_TRUE(a.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
  ASSERT_TRUE(b.Open(folded, Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(a.Identity().value(), b.Identity().value());
  std::string slashed = path;
  for (char& c : slashed) c = c == '\\' ? '/' : c;
  EXPECT_TRUE(platform::IsSameFile(path, slashed));
  EXPECT_TRUE(platform::IsSameFile(folded, slashed));
  // Even while held without sharing, a file can be told to be an input.
  FileHandle holder;
  a.Close();
  b.Close();
  ASSERT_TRUE(holder.Open(path, Access::ReadWrite, Share::None, Disposition::OpenExisting));
  EXPECT_TRUE(platform::IsSameFile(path, folded));
}

// Folders in the "\\?\" form, made and removed here: the test's own tools
// stop at MAX_PATH.
class LongFolders {
 public:
  explicit LongFolders(std::string base) : path_(std::move(base)) {}
  ~LongFolders() {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) ::RemoveDirectoryW(it->c_str());
  }
  bool Add(const std::string& name) {
    path_ += "\\" + name;
    made_.push_back(L"\\\\?\\" + Wide(path_));
    return ::CreateDirectoryW(made_.back().c_str(), nullptr) != 0;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::vector<std::wstring> made_;
};

TEST(FileHandleWindows, PathsLongerThanMaxPath) {
  testsupport::TempDir dir;
  LongFolders folders(dir.Path().string());
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(folders.Add(std::string(60, static_cast<char>('a' + i)))) << ::GetLastError();
  }
  const std::string& folder = folders.Path();
  const std::string path = folder + "\\long.bin";
  ASSERT_GT(path.size(), std::size_t{MAX_PATH});
  FileHandle h;
  ASSERT_TRUE(h.Open(path, Access::ReadWrite, Share::None, Disposition::CreateAlways))
      << h.LastError();
  ASSERT_TRUE(h.Write("long", 4));
  const auto identity = h.Identity();
  h.Close();
  ASSERT_TRUE(h.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(h.Size().value(), 4u);
  EXPECT_EQ(h.Identity(), identity);
  // Replacing it goes through the same form.
  h.Close();
  ASSERT_TRUE(h.Open(path, Access::Write, Share::None, Disposition::CreateAlways));
  EXPECT_EQ(h.Size().value(), 0u);
  h.Close();
  EXPECT_TRUE(platform::IsSameFile(path, folder + "\\.\\long.bin"));
  platform::DeleteFileQuietly(path);
  EXPECT_FALSE(h.Open(path, Access::Read, Share::Read, Disposition::OpenExisting));
  EXPECT_EQ(h.LastError(), platform::kErrorFileNotFound);
}

TEST(FileHandleWindows, NonAsciiNamesReachTheSameFiles) {
  testsupport::TempDir dir;
  const std::string root = dir.Path().string();
  for (const std::string folder : {"\\Paket-\xC3\x9C" "bersicht", "\\\xE3\x83\x91\xE3\x83\x83\xE3\x82\xB1\xE3\x83\xBC\xE3\x82\xB8"}) {
    SCOPED_TRACE(folder);
    ASSERT_TRUE(::CreateDirectoryW(Wide(root + folder).c_str(), nullptr));
    const std::string path = root + folder + "\\d\xC3\xA4t\xC3\xA4-\xF0\x9F\x93\xA6.zip";
    FileHandle h;
    ASSERT_TRUE(h.Open(path, Access::Write, Share::None, Disposition::CreateAlways));
    ASSERT_TRUE(h.Write("abc", 3));
    h.Close();
    // The name the system holds is the UTF-16 of the UTF-8 we gave.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(::GetFileAttributesExW(
        (Wide(root) + Wide(folder) + L"\\d\u00E4t\u00E4-\U0001F4E6.zip").c_str(),
        GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 3u);
  }
}

TEST(FileHandleWindows, NameWithALoneSurrogateSurvivesTheRoundTrip) {
  testsupport::TempDir dir;
  const std::wstring name = L"lone-" + std::wstring(1, wchar_t(0xD800)) + L".bin";
  const std::wstring wide = Wide(dir.Path().string()) + L"\\" + name;
  const HANDLE made = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (made == INVALID_HANDLE_VALUE) GTEST_SKIP() << "this file system refuses the name";
  ::CloseHandle(made);
  // As the name arrives from wmain and goes back to the system.
  const std::string wtf8 = platform::Utf16ToWtf8(std::u16string(wide.begin(), wide.end()));
  FileHandle h;
  ASSERT_TRUE(h.Open(wtf8, Access::ReadWrite, Share::None, Disposition::OpenExisting))
      << h.LastError();
  ASSERT_TRUE(h.Write("s", 1));
  h.Close();
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 1u);
  platform::DeleteFileQuietly(wtf8);
  EXPECT_EQ(::GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace

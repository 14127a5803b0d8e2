// The system services behind the platform layer on Windows: the real code
// pages, console output as a redirected reader sees it, and Ctrl-C.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "test_support.h"

namespace {

using platform::CodePageToWide;
using platform::WideToCodePage;

TEST(CodePageWindows, AnsiIsTheSystemsCodePage) {
  const unsigned acp = ::GetACP();
  for (const std::u16string text : {u"setup42", u"caf\u00E9", u"\u65E5\u672C"}) {
    EXPECT_EQ(WideToCodePage(text, platform::kCodePageAnsi), WideToCodePage(text, acp));
  }
  EXPECT_EQ(WideToCodePage(u"SETUP42.xml", platform::kCodePageThreadAnsi).value(), "SETUP42.xml");
}

TEST(CodePageWindows, UnrepresentableOrMalformedTextIsRefused) {
  EXPECT_EQ(WideToCodePage(u"caf\u00E9 \u20AC", 1252).value(), "caf\xE9 \x80");
  EXPECT_EQ(CodePageToWide("caf\xE9 \x80", 1252).value(), u"caf\u00E9 \u20AC");
  // No look-alike stands in: A with macron is not silently "A".
  EXPECT_FALSE(WideToCodePage(u"\u0100", 1252));
  EXPECT_FALSE(WideToCodePage(u"\u65E5", 1252));
  EXPECT_EQ(WideToCodePage(u"\u65E5\uFF71", 932).value(), "\x93\xFA\xB1");
  EXPECT_EQ(CodePageToWide("\x93\xFA\xB1", 932).value(), u"\u65E5\uFF71");
  EXPECT_FALSE(CodePageToWide("\x93", 932));
  EXPECT_FALSE(CodePageToWide("\xC3\x28", platform::kCodePageUtf8));
  EXPECT_FALSE(WideToCodePage(std::u16string(1, char16_t(0xD800)), platform::kCodePageUtf8));
  EXPECT_FALSE(WideToCodePage(u"x", 12345));
  EXPECT_FALSE(CodePageToWide("", 12345));
  EXPECT_EQ(CodePageToWide("", 932).value(), u"");
}

// Standard output sent to a file for the length of one write.
std::string Redirected(std::string_view text) {
  testsupport::TempDir dir;
  const std::string path = dir.File("out.txt");
  const std::wstring wide(path.begin(), path.end());
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const HANDLE saved = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ::SetStdHandle(STD_OUTPUT_HANDLE, file);
  platform::ConsoleWrite(text);
  ::SetStdHandle(STD_OUTPUT_HANDLE, saved);
  ::CloseHandle(file);
  const auto bytes = testsupport::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(ConsoleWindows, RedirectedOutputIsUtf8WithCrLf) {
  EXPECT_EQ(Redirected("\n- verifying 'C:\\Paket-\xC3\x9C" "bersicht\\stub.exe'\n\n"),
            "\r\n- verifying 'C:\\Paket-\xC3\x9C" "bersicht\\stub.exe'\r\n\r\n");
  EXPECT_EQ(Redirected("\xE3\x83\x91"), "\xE3\x83\x91");
}

// Delivers a console event the way the system does: on a new thread running
// the system's dispatch routine, which calls the registered handlers.
HANDLE SendConsoleEvent(DWORD event) {
  const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine")));
  if (routine == nullptr) return nullptr;
  return ::CreateThread(nullptr, 0, routine, reinterpret_cast<void*>(uintptr_t{event}), 0, nullptr);
}

void AwaitInterrupt() {
  // The handler runs on a thread of its own; the bound only keeps a broken
  // handler from hanging the suite.
  for (int i = 0; i < 1000 && !platform::Interrupted(); ++i) ::Sleep(10);
}

TEST(InterruptWindows, CtrlCAndCtrlBreakRaiseTheFlagWhileTheGuardLives) {
  for (DWORD event : {DWORD{CTRL_C_EVENT}, DWORD{CTRL_BREAK_EVENT}}) {
    SCOPED_TRACE(event);
    platform::ClearInterrupted();
    platform::InterruptGuard guard;
    const HANDLE thread = SendConsoleEvent(event);
    ASSERT_NE(thread, nullptr);
    AwaitInterrupt();
    EXPECT_TRUE(platform::Interrupted());
    // Handled: the dispatch ends without ending the process.
    EXPECT_EQ(::WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    ::CloseHandle(thread);
  }
  EXPECT_TRUE(platform::Interrupted());
  platform::ClearInterrupted();
}

// Run in a child process, since Windows ends the process once the handler
// returns from a close event: the handler must hold on while the guard lives.
TEST(InterruptWindows, DISABLED_CloseEventChild) {
  const char* report = std::getenv("ZG_CLOSE_EVENT_REPORT");
  if (report == nullptr) GTEST_SKIP() << "run by CloseEventWaitsForTheCleanUp";
  std::string seen = "flag not raised";
  {
    platform::InterruptGuard guard;
    const HANDLE thread = SendConsoleEvent(CTRL_CLOSE_EVENT);
    AwaitInterrupt();
    if (thread != nullptr && platform::Interrupted()) {
      seen = ::WaitForSingleObject(thread, 0) == WAIT_TIMEOUT ? "held" : "returned";
    }
    // The clean-up: the report, written before the guard lets go, and renamed
    // into place so that it is never seen half-written.
    testsupport::WriteFile(std::string(report) + ".part", seen);
    std::filesystem::rename(std::string(report) + ".part", report);
  }
  ::Sleep(INFINITE);  // Windows ends the process here; Wine lets it run on
}

TEST(InterruptWindows, CloseEventWaitsForTheCleanUp) {
  testsupport::TempDir dir;
  const std::string report = dir.File("report.txt");
  wchar_t self[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::wstring command = L"\"" + std::wstring(self) +
                         L"\" --gtest_also_run_disabled_tests "
                         L"--gtest_filter=InterruptWindows.DISABLED_CloseEventChild";
  ASSERT_TRUE(::SetEnvironmentVariableW(L"ZG_CLOSE_EVENT_REPORT",
                                        std::wstring(report.begin(), report.end()).c_str()));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                               CREATE_NO_WINDOW, nullptr, nullptr, &startup, &child));
  ::SetEnvironmentVariableW(L"ZG_CLOSE_EVENT_REPORT", nullptr);
  // Wine does not end the process after a close event: the report decides.
  for (int i = 0; i < 1000 && !std::filesystem::exists(report); ++i) ::Sleep(10);
  ::TerminateProcess(child.hProcess, 0);
  ::WaitForSingleObject(child.hProcess, 10000);
  ::CloseHandle(child.hThread);
  ::CloseHandle(child.hProcess);
  ASSERT_TRUE(std::filesystem::exists(report));
  const auto bytes = testsupport::ReadFile(report);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "held");
}

}  // namespace

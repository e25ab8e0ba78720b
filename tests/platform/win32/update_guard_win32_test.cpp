// The console events that Wine never sends (a closed window, a sign-out, a
// shutdown) and the session's end query, handed to the guard's handler and
// window as Windows would hand them.
#include "platform/win32/update_guard_win32.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <regex>
#include <string>
#include <thread>

#include "base/log.h"
#include "platform/win32/console_win32.h"
#include "tests/support/temp_dir.h"

namespace tessaro {
namespace {

// Standard error into a file, and the current folder a fresh one for the log.
class HandlerOutput {
 public:
  HandlerOutput() : dir_(true), previous_(GetStdHandle(STD_ERROR_HANDLE)) {
    const std::string name = dir_.File("stderr.txt");
    err_ = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    SetStdHandle(STD_ERROR_HANDLE, err_);
  }
  ~HandlerOutput() {
    SetStdHandle(STD_ERROR_HANDLE, previous_);
    CloseHandle(err_);
  }
  std::string Err() const { return testing::ReadFileBytes(dir_.File("stderr.txt")); }
  std::string Log() const {
    const std::string path = dir_.File(kLogFileName);
    if (!testing::FileExists(path)) return "";
    static const std::regex stamp("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3} -> ");
    return std::regex_replace(testing::ReadFileBytes(path), stamp, "YYYY-MM-DD HH:MM:SS:mmm -> ");
  }

 private:
  testing::TempDir dir_;
  HANDLE previous_;
  HANDLE err_;
};

struct Timed {
  int handled = -1;
  DWORD returnedAtMs = 0;
};

// The guard's window comes and goes on a thread of its own: waits up to
// waitMs for it to be there, or gone.
// Wine makes its first window slowly on a loaded machine; the wait ends as
// soon as the window is there (or gone).
constexpr DWORD kWindowWaitMs = 20000;

HWND WindowAfterMs(DWORD waitMs, bool there) {
  const DWORD startMs = GetTickCount();
  HWND window = FindWindowW(kSessionWindowClass, nullptr);
  while ((window != nullptr) != there && GetTickCount() - startMs < waitMs) {
    Sleep(5);
    window = FindWindowW(kSessionWindowClass, nullptr);
  }
  return window;
}

// A session's end: a console event (a CTRL_*_EVENT) to the handler on a
// thread of its own, as Windows runs it, or a forced end (WM_ENDSESSION,
// with these ENDSESSION_* flags) to the guard's window, where a console
// program that shows windows gets the sign-out and the shutdown.
struct SessionEnd {
  unsigned long event;
  bool toTheWindow;
  LPARAM flags;
  std::string what;
};

std::thread Deliver(const SessionEnd& end, Timed& out) {
  return std::thread([end, &out] {
    if (end.toTheWindow) {
      const HWND window = FindWindowW(kSessionWindowClass, nullptr);
      out.handled = window != nullptr && SendMessageW(window, WM_ENDSESSION, TRUE, end.flags) == 0;
    } else {
      out.handled = Win32UpdateGuard::OnConsoleEvent(end.event);
    }
    out.returnedAtMs = GetTickCount();
  });
}

TEST(Win32UpdateGuardTest, SessionEndsWaitForTheRunAndSayOnceWhy) {
  const SessionEnd cases[] = {{CTRL_CLOSE_EVENT, false, 0, "the console window was closed"},
                              {CTRL_LOGOFF_EVENT, false, 0, "the user is signing out"},
                              {CTRL_SHUTDOWN_EVENT, false, 0, "Windows is shutting down"},
                              {0, true, ENDSESSION_LOGOFF, "the user is signing out"},
                              {0, true, 0, "Windows is shutting down"}};
  for (const SessionEnd& c : cases) {
    SCOPED_TRACE(c.what + (c.toTheWindow ? " (window)" : " (console)"));
    HandlerOutput output;
    constexpr uint32_t kGraceMs = 400;
    Win32UpdateGuard guard(kGraceMs);

    // Outside an update the system's own handling goes on: the run ends.
    if (!c.toTheWindow) {
      EXPECT_EQ(Win32UpdateGuard::OnConsoleEvent(c.event), FALSE);
    }

    guard.Begin();
    ASSERT_NE(WindowAfterMs(kWindowWaitMs, true), nullptr);
    const DWORD startMs = GetTickCount();
    Timed first;
    Timed second;
    std::thread handler = Deliver(c, first);
    std::thread again = Deliver(c, second);
    Sleep(150);
    const DWORD endedAtMs = GetTickCount();
    guard.End();
    handler.join();
    again.join();
    // The window of a held end goes once its thread has seen both messages.
    EXPECT_EQ(WindowAfterMs(kWindowWaitMs, false), nullptr);

    // Held past the update's end, for the run to write its files, until
    // the grace is used up; the process's exit would cut the wait short.
    EXPECT_EQ(first.handled, TRUE);
    EXPECT_GE(first.returnedAtMs, endedAtMs);
    EXPECT_GE(first.returnedAtMs - startMs, kGraceMs - 50);
    EXPECT_LT(first.returnedAtMs - startMs, kGraceMs + 1000);
    const std::string text = c.what + " during an update; the update may be cut before its end: run the same job again";
    EXPECT_EQ(output.Err(), "tessaro: " + text + "\r\n");
    EXPECT_EQ(output.Log(), "YYYY-MM-DD HH:MM:SS:mmm -> error     : " + text + "\r\n");
  }
}

TEST(Win32UpdateGuardTest, AnUpdateLongerThanTheGraceIsLeftToTheSystem) {
  HandlerOutput output;
  constexpr uint32_t kGraceMs = 300;
  Win32UpdateGuard guard(kGraceMs);
  guard.Begin();
  WindowAfterMs(kWindowWaitMs, true);
  const DWORD startMs = GetTickCount();
  EXPECT_EQ(Win32UpdateGuard::OnConsoleEvent(CTRL_CLOSE_EVENT), TRUE);
  const DWORD spentMs = GetTickCount() - startMs;
  EXPECT_GE(spentMs, kGraceMs - 50);
  EXPECT_LT(spentMs, kGraceMs + 1000);
  guard.End();
}

TEST(Win32UpdateGuardTest, CtrlCDuringAnUpdateIsHeldWithOneNotice) {
  HandlerOutput output;
  Win32UpdateGuard guard;
  guard.Begin();
  WindowAfterMs(kWindowWaitMs, true);
  EXPECT_EQ(Win32UpdateGuard::OnConsoleEvent(CTRL_C_EVENT), TRUE);
  EXPECT_EQ(Win32UpdateGuard::OnConsoleEvent(CTRL_BREAK_EVENT), TRUE);
  guard.End();
  EXPECT_EQ(output.Err(),
            "tessaro: signal received, the update goes on so that the controller is not left half-written\r\n");
  EXPECT_EQ(output.Log(), "");
}

// Windows asks every top-level window whether the session may end; the
// guard's hidden window says no while an update runs, once in the log, and
// is gone when the update ends.
TEST(Win32UpdateGuardTest, RestartIsRefusedWhileAnUpdateRuns) {
  HandlerOutput output;
  Win32UpdateGuard guard;
  EXPECT_EQ(FindWindowW(kSessionWindowClass, nullptr), nullptr);
  guard.Begin();
  const HWND window = WindowAfterMs(kWindowWaitMs, true);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetParent(window), nullptr);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
  EXPECT_EQ(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), FALSE);
  guard.End();
  EXPECT_EQ(WindowAfterMs(kWindowWaitMs, false), nullptr);
  EXPECT_FALSE(IsWindow(window));
  const std::string text = "a restart or sign-out was asked for during an update; it is held until the update ends";
  EXPECT_EQ(output.Err(), "tessaro: " + text + "\r\n");
  EXPECT_EQ(output.Log(), "YYYY-MM-DD HH:MM:SS:mmm -> error     : " + text + "\r\n");

  // A second update holds again.
  guard.Begin();
  EXPECT_NE(WindowAfterMs(kWindowWaitMs, true), nullptr);
  guard.End();
  EXPECT_EQ(WindowAfterMs(kWindowWaitMs, false), nullptr);
}

// The threads of this process now.
int ThreadCount() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

// An update too short for its window to come up: the run's end still waits
// for the window's thread, so the process never ends while that thread is
// half-way through making it.
TEST(Win32UpdateGuardTest, TheGuardsEndWaitsForAWindowStillComingUp) {
  HandlerOutput output;
  const int before = ThreadCount();
  ASSERT_GT(before, 0);
  {
    Win32UpdateGuard guard;
    guard.Begin();
    guard.End();
  }
  EXPECT_EQ(ThreadCount(), before);
  EXPECT_EQ(FindWindowW(kSessionWindowClass, nullptr), nullptr);
}

// A console of the test's own, in the OEM code page of a Western PC: the
// tool shows UTF-8 while it writes there, and the shell gets its code page
// back.
TEST(Win32ConsoleTest, OutputCodePageIsUtf8WhileTheToolWritesAndComesBack) {
  if (GetConsoleWindow() == nullptr && !AllocConsole()) GTEST_SKIP() << "no console can be had here";
  const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(console, INVALID_HANDLE_VALUE);
  const UINT before = GetConsoleOutputCP();
  ASSERT_TRUE(SetConsoleOutputCP(850));
  const HANDLE previous = GetStdHandle(STD_ERROR_HANDLE);
  SetStdHandle(STD_ERROR_HANDLE, console);
  {
    Utf8ConsoleOutput output;
    EXPECT_EQ(GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
  }
  EXPECT_EQ(GetConsoleOutputCP(), 850u);
  {
    Utf8ConsoleOutput output;
    RestoreConsoleOutputCodePage();  // as before Ctrl+C ends the run
    EXPECT_EQ(GetConsoleOutputCP(), 850u);
  }
  EXPECT_EQ(GetConsoleOutputCP(), 850u);
  SetStdHandle(STD_ERROR_HANDLE, previous);
  // Nothing changes where no standard stream is a console (the test's own
  // output may be one, run by hand).
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) && !GetConsoleMode(previous, &mode)) {
    Utf8ConsoleOutput output;
    EXPECT_EQ(GetConsoleOutputCP(), 850u);
  }
  SetConsoleOutputCP(before);
  CloseHandle(console);
}

}  // namespace
}  // namespace tessaro

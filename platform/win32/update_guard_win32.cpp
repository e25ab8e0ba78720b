#include "platform/win32/update_guard_win32.h"

#include <windows.h>

namespace tessaro {
namespace {

volatile LONG noticeWritten = 0;

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI HoldOff(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (InterlockedExchange(&noticeWritten, 1) == 0) {
    // The console's line end, as the text-mode streams write it.
    char line[sizeof kUpdateGoesOnNotice + 1];
    const DWORD length = sizeof kUpdateGoesOnNotice - 2;
    CopyMemory(line, kUpdateGoesOnNotice, length);
    line[length] = '\r';
    line[length + 1] = '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, length + 2, &written, nullptr);
  }
  return TRUE;
}

}  // namespace

Win32UpdateGuard::~Win32UpdateGuard() { End(); }

void Win32UpdateGuard::Begin() {
  if (active_) return;
  SetConsoleCtrlHandler(HoldOff, TRUE);
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  active_ = true;
}

void Win32UpdateGuard::End() {
  if (!active_) return;
  SetThreadExecutionState(ES_CONTINUOUS);
  SetConsoleCtrlHandler(HoldOff, FALSE);
  active_ = false;
}

}  // namespace tessaro

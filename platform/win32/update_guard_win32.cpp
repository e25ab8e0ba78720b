#include "platform/win32/update_guard_win32.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "base/file.h"
#include "base/log.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/file_win32.h"

namespace tessaro {

struct Win32UpdateGuard::State {
  uint32_t graceMs = kSessionEndGraceMs;
  volatile LONG updating = 0;
  volatile LONG noticeWritten = 0;
  volatile LONG queryHeldWritten = 0;
  volatile LONG endingWritten = 0;
  // Set while no update runs: what a session's end waits for.
  HANDLE idle = nullptr;
  // The hidden window's thread, for the length of an update.
  HANDLE windowThread = nullptr;
  HANDLE windowStop = nullptr;
  HANDLE windowReady = nullptr;
};

namespace {

// The guard whose handler is installed; the handler and the window's
// procedure run on threads of their own and find it here.
Win32UpdateGuard::State* volatile theState = nullptr;

constexpr wchar_t kBlockReason[] =
    L"The firmware of the touch controller is being updated. Restarting now could leave the touch screen unusable.";

// Written by a thread other than the job's: the log's own writer keeps
// state that only the job's thread may touch, so the line goes to the file
// through a handle of its own, in one append, as every run's lines do.
void WriteLine(const std::string& text) {
  const std::string console = "tessaro: " + text + "\r\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), console.data(), static_cast<DWORD>(console.size()), &written, nullptr);
  SYSTEMTIME now{};
  GetSystemTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d:%03d -> ", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  const std::string line = std::string(stamp) + "error     : " + text + "\n";
  Win32FileSystem files;
  FileHandle log = kInvalidFileHandle;
  if (!files.OpenForAppend(kLogFileName, log)) return;
  (void)files.Append(log, line.data(), static_cast<uint32_t>(line.size()));
  files.Close(log);
}

// The window closed, the user signing out or Windows shutting down: none
// can be refused. The job's thread goes on; this one says so once and keeps
// the process alive until the run has ended (its exit ends this wait too)
// or the grace is nearly over. Returns at once outside an update.
bool HoldUntilTheRunEnds(Win32UpdateGuard::State& state, const char* what) {
  if (state.updating == 0) return false;
  if (InterlockedExchange(&state.endingWritten, 1) == 0) {
    WriteLine(std::string(what) + " during an update; the update may be cut before its end: run the same job again");
  }
  // The guard may end while this thread waits (the run is over): nothing
  // of it is read after the wait.
  const DWORD graceMs = state.graceMs;
  const DWORD startMs = GetTickCount();
  if (WaitForSingleObject(state.idle, graceMs) == WAIT_OBJECT_0) {
    // The update has ended; the run still closes the controller and writes
    // its log, trace and result file, and then the process ends this wait.
    const DWORD spentMs = GetTickCount() - startMs;
    if (spentMs < graceMs) Sleep(graceMs - spentMs);
  }
  return true;
}

const char* SessionEndText(bool logoff) {
  return logoff ? "the user is signing out" : "Windows is shutting down";
}

LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Win32UpdateGuard::State* const state = theState;
  switch (message) {
    case WM_QUERYENDSESSION:
      if (state == nullptr || state->updating == 0) return TRUE;
      if (InterlockedExchange(&state->queryHeldWritten, 1) == 0) {
        WriteLine("a restart or sign-out was asked for during an update; it is held until the update ends");
      }
      return FALSE;
    case WM_ENDSESSION:
      // Forced: the session ends whatever this window answered.
      if (wParam != FALSE && state != nullptr) {
        HoldUntilTheRunEnds(*state, SessionEndText((lParam & ENDSESSION_LOGOFF) != 0));
      }
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// The hidden window's thread gets its own copies of the guard's events, so
// that it may outlive the guard by the moment it takes to see the stop.
struct WindowThreadEvents {
  HANDLE stop;   // set when the update ends
  HANDLE ready;  // set by the thread once its window exists, or cannot
};

// The hidden window lives on a thread of its own: the job's thread never
// pumps messages, and an unanswered WM_QUERYENDSESSION counts as consent.
DWORD WINAPI SessionWindowThread(void* parameter) {
  WindowThreadEvents* const events = static_cast<WindowThreadEvents*>(parameter);
  HWND window = nullptr;
  if (WaitForSingleObject(events->stop, 0) != WAIT_OBJECT_0) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = SessionWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kSessionWindowClass;
    RegisterClassW(&windowClass);  // fails harmlessly when an earlier update registered it
    // Top-level, not message-only: only top-level windows are asked whether
    // the session may end.
    window = CreateWindowExW(0, kSessionWindowClass, kBlockReason, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                             instance, nullptr);
  }
  SetEvent(events->ready);
  if (window != nullptr) {
    ShutdownBlockReasonCreate(window, kBlockReason);
    bool quit = false;
    while (!quit && MsgWaitForMultipleObjects(1, &events->stop, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      MSG message;
      while (!quit && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        quit = message.message == WM_QUIT;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
    ShutdownBlockReasonDestroy(window);
    DestroyWindow(window);
  }
  CloseHandle(events->stop);
  CloseHandle(events->ready);
  delete events;
  return 0;
}

HANDLE Duplicate(HANDLE handle) {
  HANDLE copy = nullptr;
  const HANDLE self = GetCurrentProcess();
  return DuplicateHandle(self, handle, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS) ? copy : nullptr;
}

BOOL WINAPI ConsoleHandler(DWORD event) { return Win32UpdateGuard::OnConsoleEvent(event) ? TRUE : FALSE; }

}  // namespace

int Win32UpdateGuard::OnConsoleEvent(unsigned long event) {
  State* const state = theState;
  if (state == nullptr) return FALSE;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (state->updating == 0) {
        // What Windows's own handler does, which Wine's ends with 0. The
        // console's code page goes back to the user's first.
        RestoreConsoleOutputCodePage();
        ExitProcess(kControlCExitCode);
      }
      if (InterlockedExchange(&state->noticeWritten, 1) == 0) {
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
    case CTRL_CLOSE_EVENT:
      return HoldUntilTheRunEnds(*state, "the console window was closed") ? TRUE : FALSE;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      return HoldUntilTheRunEnds(*state, SessionEndText(event == CTRL_LOGOFF_EVENT)) ? TRUE : FALSE;
    default:
      return FALSE;
  }
}

Win32UpdateGuard::Win32UpdateGuard(uint32_t graceMs) : state_(new State) {
  state_->graceMs = graceMs;
  state_->idle = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  theState = state_;
  SetConsoleCtrlHandler(ConsoleHandler, TRUE);
}

Win32UpdateGuard::~Win32UpdateGuard() {
  End();
  // The process must not end while the window's thread is still in the
  // middle of making its window: under Wine that thread may hold the
  // loader's lock while the display driver loads, and an exit then hangs
  // until the system kills the process, losing its exit code.
  if (state_->endingWritten == 0) JoinWindowThread(kLateWindowMs);
  SetConsoleCtrlHandler(ConsoleHandler, FALSE);
  if (theState == state_) theState = nullptr;
  // A thread that holds a session's end may still be waiting on the event:
  // both stay, for the few seconds until the system ends the process.
  if (state_->endingWritten != 0) return;
  if (state_->idle != nullptr) CloseHandle(state_->idle);
  delete state_;
}

void Win32UpdateGuard::Begin() {
  if (state_->updating != 0) return;
  // An earlier update's window still coming up: one window at a time.
  JoinWindowThread(kLateWindowMs);
  ResetEvent(state_->idle);
  InterlockedExchange(&state_->updating, 1);
  // The display too: the inbox HID-over-I2C driver powers its device down
  // when the display goes off.
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
  // The window comes up beside the job, which does not wait for it: on a
  // PC it takes a moment, under Wine the display driver's start.
  state_->windowStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state_->windowReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (state_->windowStop == nullptr || state_->windowReady == nullptr) return;
  auto* const events = new WindowThreadEvents{Duplicate(state_->windowStop), Duplicate(state_->windowReady)};
  if (events->stop != nullptr && events->ready != nullptr) {
    state_->windowThread = CreateThread(nullptr, 0, SessionWindowThread, events, 0, nullptr);
  }
  if (state_->windowThread == nullptr) {
    if (events->stop != nullptr) CloseHandle(events->stop);
    if (events->ready != nullptr) CloseHandle(events->ready);
    delete events;
  }
}

void Win32UpdateGuard::End() {
  if (state_->updating == 0) return;
  InterlockedExchange(&state_->updating, 0);
  SetEvent(state_->idle);
  if (state_->windowStop != nullptr) SetEvent(state_->windowStop);
  if (state_->windowThread != nullptr && state_->endingWritten == 0) {
    // A window that exists is gone when the update has ended, unless its
    // thread holds a session's end, keeping the process alive while the
    // run finishes. A window still coming up is not waited for here: it
    // sees the stop as soon as it exists, and the guard's end waits for it.
    if (WaitForSingleObject(state_->windowReady, 0) == WAIT_OBJECT_0) JoinWindowThread(2000);
  }
  for (HANDLE* event : {&state_->windowStop, &state_->windowReady}) {
    if (*event != nullptr) CloseHandle(*event);
    *event = nullptr;
  }
  SetThreadExecutionState(ES_CONTINUOUS);
}

void Win32UpdateGuard::JoinWindowThread(unsigned long waitMs) {
  if (state_->windowThread == nullptr) return;
  WaitForSingleObject(state_->windowThread, waitMs);
  CloseHandle(state_->windowThread);
  state_->windowThread = nullptr;
}

}  // namespace tessaro

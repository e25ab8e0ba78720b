#pragma once
#include <cstdint>

#include "base/update_guard.h"

namespace tessaro {

// How long the guard keeps a closed window, a sign-out or a shutdown
// waiting for the update's end: Windows ends a console process about 5 s
// after such an event, and a handler still running then is cut anyway.
constexpr uint32_t kSessionEndGraceMs = 4500;

// How long the guard's end waits for a hidden window still coming up.
constexpr uint32_t kLateWindowMs = 5000;

// The class of the hidden window that holds a restart while an update runs.
constexpr wchar_t kSessionWindowClass[] = L"TessaroUpdateInProgress";

// The exit code of a run that Ctrl+C or Ctrl+Break ends outside an update,
// the one Windows gives every console program it ends that way
// (STATUS_CONTROL_C_EXIT, -1073741510 in cmd's %ERRORLEVEL%).
constexpr uint32_t kControlCExitCode = 0xC000013Au;

// While an update runs:
// - Ctrl+C and Ctrl+Break are held off, with one notice on standard error;
// - closing the console window, a sign-out or a shutdown, which cannot be
//   refused, get one line on standard error and in the log file, and the
//   process is kept alive for the grace Windows allows, so that an update
//   near its end still reaches it and the run writes its result;
// - a restart or sign-out that can still be refused is: a hidden top-level
//   window answers the query with "no" and tells the user why;
// - the machine and its display are kept awake, since the HID-over-I2C
//   driver powers its device down with the display.
// Outside an update, Ctrl+C and Ctrl+Break end the run at once with
// kControlCExitCode, never with 0: nothing was done.
// One guard at a time per process: it owns the console handler.
class Win32UpdateGuard final : public UpdateGuard {
 public:
  explicit Win32UpdateGuard(uint32_t graceMs = kSessionEndGraceMs);
  ~Win32UpdateGuard() override;
  Win32UpdateGuard(const Win32UpdateGuard&) = delete;
  Win32UpdateGuard& operator=(const Win32UpdateGuard&) = delete;

  void Begin() override;
  void End() override;

  // The console control handler, as Windows calls it on a thread of its own
  // for each event (a CTRL_*_EVENT value); nonzero when it handled it. Ends
  // the process for Ctrl+C and Ctrl+Break outside an update.
  static int OnConsoleEvent(unsigned long event);

  struct State;

 private:
  // Waits up to waitMs for the hidden window's thread to end, then lets it go.
  void JoinWindowThread(unsigned long waitMs);

  State* state_;
};

}  // namespace tessaro

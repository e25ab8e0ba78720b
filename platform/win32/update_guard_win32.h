#pragma once
#include "base/update_guard.h"

namespace tessaro {

// Ctrl+C and Ctrl+Break in the console are held off while an update runs,
// with one notice on standard error, and the machine is kept from idle sleep,
// as firmware updaters do. Closing the console window, logging off and
// ending the process from the task manager cannot be held off.
class Win32UpdateGuard final : public UpdateGuard {
 public:
  ~Win32UpdateGuard() override;
  void Begin() override;
  void End() override;

 private:
  bool active_ = false;
};

}  // namespace tessaro

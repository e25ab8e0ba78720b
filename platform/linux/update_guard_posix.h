#pragma once
#include <csignal>
#include <vector>

#include "base/update_guard.h"

namespace tessaro {

// Every signal that would end the process and can be caught, sent from
// outside (SIGINT, SIGTERM, SIGHUP of a dropped SSH session, Ctrl+\'s
// SIGQUIT, the user, timer and real-time signals), is caught while an update
// runs: one notice to standard error, then the job goes on. SIGKILL cannot
// be caught; a rerun of the same update recovers the controller.
// Not held: SIGPIPE and SIGXFSZ, ignored for the whole run so that a closed
// console or a file size limit fails a write instead; and the signals of the
// process's own faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP,
// SIGSYS), which returning from would repeat or hide.
class PosixUpdateGuard final : public UpdateGuard {
 public:
  PosixUpdateGuard();
  ~PosixUpdateGuard() override;
  void Begin() override;
  void End() override;

 private:
  std::vector<int> signals_;
  std::vector<struct sigaction> previous_;
  bool active_ = false;
};

}  // namespace tessaro

#pragma once
#include <csignal>

#include "base/update_guard.h"

namespace tessaro {

// SIGINT, SIGTERM and SIGHUP (a dropped SSH session) are caught while an
// update runs: one notice to standard error, then the job goes on. SIGKILL
// cannot be caught; a rerun of the same update recovers the controller.
class PosixUpdateGuard final : public UpdateGuard {
 public:
  ~PosixUpdateGuard() override;
  void Begin() override;
  void End() override;

 private:
  static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction previous_[3] = {};
  bool active_ = false;
};

}  // namespace tessaro

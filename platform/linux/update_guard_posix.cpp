#include "platform/linux/update_guard_posix.h"

#include <unistd.h>

#include <cerrno>

namespace tessaro {
namespace {

volatile sig_atomic_t noticeWritten = 0;

// Runs inside the signal: only async-signal-safe calls.
void HoldOff(int) {
  const int savedErrno = errno;
  if (noticeWritten == 0) {
    noticeWritten = 1;
    ssize_t ignored = ::write(STDERR_FILENO, kUpdateGoesOnNotice, sizeof kUpdateGoesOnNotice - 1);
    (void)ignored;
  }
  errno = savedErrno;
}

std::vector<int> HeldSignals() {
  std::vector<int> held = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                           SIGVTALRM, SIGPROF, SIGXCPU, SIGIO,   SIGPWR,  SIGSTKFLT};
  // Not constants: the C library keeps the first few for itself.
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) held.push_back(signal);
  return held;
}

}  // namespace

PosixUpdateGuard::PosixUpdateGuard() : signals_(HeldSignals()), previous_(signals_.size()) {}

PosixUpdateGuard::~PosixUpdateGuard() { End(); }

void PosixUpdateGuard::Begin() {
  if (active_) return;
  struct sigaction holdOff {};
  holdOff.sa_handler = HoldOff;
  sigemptyset(&holdOff.sa_mask);
  for (int signal : signals_) sigaddset(&holdOff.sa_mask, signal);
  // The job's own calls (reports, sleeps, log writes) resume after the
  // notice instead of failing with EINTR.
  holdOff.sa_flags = SA_RESTART;
  for (size_t i = 0; i < signals_.size(); ++i) sigaction(signals_[i], &holdOff, &previous_[i]);
  active_ = true;
}

void PosixUpdateGuard::End() {
  if (!active_) return;
  for (size_t i = 0; i < signals_.size(); ++i) sigaction(signals_[i], &previous_[i], nullptr);
  active_ = false;
}

}  // namespace tessaro

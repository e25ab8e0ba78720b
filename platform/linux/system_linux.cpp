#include <csignal>
#include <cstdio>

#include "platform/linux/clock_posix.h"
#include "platform/linux/file_posix.h"
#include "platform/linux/hid_hidraw.h"
#include "platform/linux/update_guard_posix.h"
#include "platform/system.h"

namespace tessaro {

struct SystemBackends::Impl {
  PosixClock clock;
  PosixFileSystem files;
  HidrawBackend hid;
  Clock* previousClock = nullptr;
  FileSystem* previousFiles = nullptr;
  HidBackend* previousHid = nullptr;
  PosixUpdateGuard guard;
  UpdateGuard* previousGuard = nullptr;
};

SystemBackends::SystemBackends() : impl_(std::make_unique<Impl>()) {
  // A console that goes away (output piped into a reader that has quit)
  // must not end the process in the middle of a job, with the controller
  // left in its update program and its handle open: writes to it just fail.
  // Not restored at the end: the streams are flushed after main returns.
  std::signal(SIGPIPE, SIG_IGN);
  impl_->previousClock = InstallClock(&impl_->clock);
  impl_->previousFiles = InstallFileSystem(&impl_->files);
  impl_->previousHid = InstallHid(&impl_->hid);
  impl_->previousGuard = InstallUpdateGuard(&impl_->guard);
}

SystemBackends::~SystemBackends() {
  InstallUpdateGuard(impl_->previousGuard);
  InstallHid(impl_->previousHid);
  InstallFileSystem(impl_->previousFiles);
  InstallClock(impl_->previousClock);
}

// rename(2) replaces the target atomically.
bool MoveFileOver(const char* from, const char* to) { return std::rename(from, to) == 0; }

}  // namespace tessaro

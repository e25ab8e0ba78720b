#include <csignal>
#include <cstdio>

#include "base/seams.h"
#include "base/system.h"
#include "platform/linux/clock_posix.h"
#include "platform/linux/file_posix.h"
#include "platform/linux/hid_hidraw.h"
#include "platform/linux/update_guard_posix.h"

namespace tessaro {

struct SystemBackends::Impl {
  PosixClock clock;
  PosixFileSystem files;
  HidrawBackend hid;
  PosixUpdateGuard guard;
  Installed<Clock> installedClock{&clock};
  Installed<FileSystem> installedFiles{&files};
  Installed<HidBackend> installedHid{&hid};
  Installed<UpdateGuard> installedGuard{&guard};
};

SystemBackends::SystemBackends() {
  // A console that goes away (output piped into a reader that has quit)
  // must not end the process in the middle of a job, with the controller
  // left in its update program and its handle open: writes to it just fail.
  // Not restored at the end: the streams are flushed after main returns.
  std::signal(SIGPIPE, SIG_IGN);
  impl_ = std::make_unique<Impl>();
}

SystemBackends::~SystemBackends() = default;

// rename(2) replaces the target atomically.
bool MoveFileOver(const char* from, const char* to) { return std::rename(from, to) == 0; }

}  // namespace tessaro

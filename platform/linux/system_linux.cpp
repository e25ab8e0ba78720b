#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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
  // Likewise a file size limit (`ulimit -f`) that the log or the trace
  // crosses: the write fails and is reported, the job goes on.
  std::signal(SIGXFSZ, SIG_IGN);
  impl_ = std::make_unique<Impl>();
}

SystemBackends::~SystemBackends() = default;

void OpenStandardStreams() {
  for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
    if (::fcntl(stream, F_GETFD) != -1 || errno != EBADF) continue;
    // open returns the lowest free number, which is this stream's.
    int fd = ::open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (fd < 0) {
      // No /dev/null (a bare chroot): a pipe reads as empty and, with its
      // other end closed, takes no writes.
      int ends[2] = {-1, -1};
      if (::pipe(ends) != 0) ::_exit(127);
      fd = stream == STDIN_FILENO ? ends[0] : ends[1];
      ::close(stream == STDIN_FILENO ? ends[1] : ends[0]);
    }
    if (fd != stream) {
      if (::dup2(fd, stream) != stream) ::_exit(127);
      ::close(fd);
    }
  }
}

// rename(2) replaces the target atomically.
bool MoveFileOver(const char* from, const char* to) { return std::rename(from, to) == 0; }

}  // namespace tessaro

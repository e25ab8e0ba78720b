#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "base/file_lock.h"
#include "platform/linux/lock_holder.h"

namespace tessaro {

LockOutcome FileLock::TryLock(const std::string& path, uint32_t& holderPid) {
  Unlock();
  holderPid = 0;
  // Non-blocking, so that a FIFO put at the path cannot hang the open.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return LockOutcome::kFailed;
  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const bool busy = errno == EWOULDBLOCK;
    if (busy) holderPid = FlockHolderPid(fd);
    ::close(fd);
    return busy ? LockOutcome::kBusy : LockOutcome::kFailed;
  }
  handle_ = fd;
  return LockOutcome::kTaken;
}

void FileLock::Unlock() {
  if (handle_ == kNoHandle) return;
  ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

}  // namespace tessaro

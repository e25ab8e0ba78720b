#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "base/file_lock.h"
#include "platform/linux/lock_holder.h"

namespace tessaro {
namespace {

// The byte the Windows build locks (file_lock_win32.cpp): Wine maps a
// Windows range lock to a POSIX lock of the same range, so a lock of the
// same byte keeps a native run and a run of the .exe under Wine apart in
// one folder. An open-file-description lock: a POSIX one would be dropped
// when this process closed any other descriptor of the file.
constexpr off_t kSharedLockOffset = 0x40000000;

// 0 when taken, else errno.
int LockSharedByte(int fd) {
  struct flock range {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = kSharedLockOffset;
  range.l_len = 1;
  while (::fcntl(fd, F_OFD_SETLK, &range) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace

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
  // The flock names a native holder; the range lock meets the .exe's, whose
  // holder Wine does not tell.
  const int rangeError = LockSharedByte(fd);
  if (rangeError != 0) {
    ::close(fd);
    return rangeError == EAGAIN || rangeError == EACCES ? LockOutcome::kBusy : LockOutcome::kFailed;
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

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/output_file.h"

namespace tessaro::output {

Handle OpenEmptied(const std::string& path, std::string& reason, bool keep) {
  // Not O_TRUNC: a device put at the path must be refused before anything
  // is done to it.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    reason = ErrorText(static_cast<uint32_t>(errno));
    return kNoHandle;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode))) {
    ::close(fd);
    reason = "not a regular file or a FIFO";
    return kNoHandle;
  }
  if (!keep && S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0) {
    reason = ErrorText(static_cast<uint32_t>(errno));
    ::close(fd);
    return kNoHandle;
  }
  return fd;
}

Written Write(Handle file, const char* bytes, size_t lengthBytes, std::string& reason) {
  size_t done = 0;
  while (done < lengthBytes) {
    const ssize_t wrote = ::write(static_cast<int>(file), bytes + done, lengthBytes - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0 && WouldWait(static_cast<uint32_t>(errno)) && done == 0) return Written::kWouldWait;
    if (wrote < 0) {
      reason = ErrorText(static_cast<uint32_t>(errno));
      return Written::kFailed;
    }
    if (wrote == 0) {
      reason = "nothing written";
      return Written::kFailed;
    }
    done += static_cast<size_t>(wrote);
  }
  return Written::kWhole;
}

void Close(Handle file) {
  if (file != kNoHandle) ::close(static_cast<int>(file));
}

std::string ErrorText(uint32_t error) { return std::strerror(static_cast<int>(error)); }

bool WouldWait(uint32_t error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace tessaro::output

#include "platform/linux/file_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace tessaro {

bool PosixFileSystem::OpenForRead(const char* name, FileHandle& out) {
  out = kInvalidFileHandle;
  if (name == nullptr) {
    errno = EINVAL;
    return false;
  }
  // O_NONBLOCK, so that a FIFO given as an image is refused below instead of
  // making the open wait for a writer; reads of a regular file ignore it.
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  // Only regular files are images; a directory or a device would read as
  // garbage or block.
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    const int saved = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    errno = saved;
    return false;
  }
  out = fd;
  return true;
}

uint32_t PosixFileSystem::SizeLow32(FileHandle file) {
  struct stat info {};
  if (::fstat(static_cast<int>(file), &info) != 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(info.st_size) & 0xFFFFFFFFu);
}

bool PosixFileSystem::Read(FileHandle file, uint8_t* buffer, uint32_t lengthBytes, uint32_t& readBytes) {
  // One request from the caller's view; short reads of the kernel are
  // continued so that a regular file arrives whole, as ReadFile delivers it.
  readBytes = 0;
  while (readBytes < lengthBytes) {
    const ssize_t got = ::read(static_cast<int>(file), buffer + readBytes, lengthBytes - readBytes);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    readBytes += static_cast<uint32_t>(got);
  }
  return true;
}

void PosixFileSystem::Close(FileHandle file) {
  if (file >= 0) ::close(static_cast<int>(file));
}

uint32_t PosixFileSystem::LastError() { return static_cast<uint32_t>(errno); }

std::string PosixFileSystem::ErrorText(uint32_t error) {
  return std::string(std::strerror(static_cast<int>(error))) + " (errno " + std::to_string(error) + ")";
}

// unlink, not std::remove: like DeleteFileW it never removes a directory,
// so a folder at the log path cannot be taken for an oversized log.
bool PosixFileSystem::Delete(const char* name) { return name != nullptr && ::unlink(name) == 0; }

bool PosixFileSystem::OpenForAppend(const char* name, FileHandle& out) {
  out = kInvalidFileHandle;
  if (name == nullptr) {
    errno = EINVAL;
    return false;
  }
  // O_NONBLOCK for the open and every write: a FIFO without a reader fails
  // at once (ENXIO), and a line its reader has no room for fails with
  // EAGAIN, instead of holding the job, and the controller, until it reads.
  const int fd = ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return false;
  out = fd;
  return true;
}

bool PosixFileSystem::Append(FileHandle file, const char* bytes, uint32_t lengthBytes) {
  // O_APPEND puts one write at the end as a whole; the loop only continues
  // what a signal cut short. A line (at most PIPE_BUF bytes) reaches a FIFO
  // whole or, with EAGAIN, not at all.
  uint32_t done = 0;
  while (done < lengthBytes) {
    const ssize_t wrote = ::write(static_cast<int>(file), bytes + done, lengthBytes - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<uint32_t>(wrote);
  }
  return true;
}

}  // namespace tessaro

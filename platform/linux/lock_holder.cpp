#include "platform/linux/lock_holder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <sstream>

namespace tessaro {

uint32_t FlockHolderPidIn(const std::string& procLocks, uint32_t major, uint32_t minor, uint64_t inode) {
  // "1: FLOCK  ADVISORY  WRITE 1234 00:05:678 0 EOF"; processes waiting for
  // a lock show as "1: -> FLOCK ..." and are passed over.
  std::istringstream lines(procLocks);
  std::string line;
  while (std::getline(lines, line)) {
    char kind[16] = {};
    char access[16] = {};
    char mode[16] = {};
    unsigned long pid = 0;
    unsigned int fileMajor = 0;
    unsigned int fileMinor = 0;
    unsigned long long fileInode = 0;
    if (std::sscanf(line.c_str(), "%*[0-9]: %15s %15s %15s %lu %x:%x:%llu", kind, access, mode, &pid, &fileMajor,
                    &fileMinor, &fileInode) != 7) {
      continue;
    }
    if (std::string(kind) == "FLOCK" && std::string(mode) == "WRITE" && fileMajor == major && fileMinor == minor &&
        fileInode == inode && pid > 0 && pid <= UINT32_MAX) {
      return static_cast<uint32_t>(pid);
    }
  }
  return 0;
}

uint32_t FlockHolderPid(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return 0;
  const int locks = ::open("/proc/locks", O_RDONLY | O_CLOEXEC);
  if (locks < 0) return 0;
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  // Bounded: a host with a million locks is not worth naming a holder for.
  while (text.size() < (4u << 20) && (got = ::read(locks, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(locks);
  return FlockHolderPidIn(text, major(status.st_dev), minor(status.st_dev), status.st_ino);
}

}  // namespace tessaro

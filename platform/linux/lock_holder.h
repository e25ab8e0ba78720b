#pragma once
// Who holds the flock lock of a file: the kernel lists every lock in
// /proc/locks, with the process that took it and the file's device and
// inode.
#include <cstdint>
#include <string>

namespace tessaro {

// The process holding an exclusive flock lock on the file behind `fd`, or 0
// when none is listed or /proc is not there.
uint32_t FlockHolderPid(int fd);

// The same, read from the text of /proc/locks for the file on device
// major:minor with the inode given.
uint32_t FlockHolderPidIn(const std::string& procLocks, uint32_t major, uint32_t minor, uint64_t inode);

}  // namespace tessaro

#pragma once
// A host-wide, exclusive lock on a file, taken without waiting: what keeps
// two runs of tessaro-sim in one folder from driving one simulated
// controller at once, as the HID backends keep two jobs off one controller.
// One implementation per platform; the lock ends with the object, and with
// the process however it ends.
#include <cstdint>
#include <string>

namespace tessaro {

enum class LockOutcome {
  kTaken,
  kBusy,    // another process holds it
  kFailed,  // the file cannot be opened or locked at all
};

class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens the file (created empty when missing) and locks it. When busy,
  // `holderPid` is the holding process where the platform can tell, else 0.
  // The lock leaves the file's bytes alone and lets this process and others
  // read and write them.
  LockOutcome TryLock(const std::string& path, uint32_t& holderPid);
  void Unlock();
  bool held() const { return handle_ != kNoHandle; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  std::intptr_t handle_ = kNoHandle;
};

}  // namespace tessaro

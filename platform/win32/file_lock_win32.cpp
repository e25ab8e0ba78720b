#include <windows.h>

#include "base/file_lock.h"

namespace tessaro {
namespace {

// Windows locks byte ranges, and a locked range refuses every other handle's
// reads and writes, this process's included. One byte far past any flash
// file's end is locked, so the file's own bytes stay free. The native build
// locks the same byte, which Wine turns into a POSIX lock, so a native run
// and one of the .exe under Wine keep each other out of one folder.
constexpr DWORD kLockOffsetHigh = 0;
constexpr DWORD kLockOffsetLow = 0x40000000;

}  // namespace

LockOutcome FileLock::TryLock(const std::string& path, uint32_t& holderPid) {
  Unlock();
  holderPid = 0;  // Windows does not say who holds a range
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LockOutcome::kFailed;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return LockOutcome::kFailed;
  }
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    return error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION ? LockOutcome::kBusy
                                                                             : LockOutcome::kFailed;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  return LockOutcome::kTaken;
}

void FileLock::Unlock() {
  if (handle_ == kNoHandle) return;
  // Closing the handle releases its locks.
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNoHandle;
}

}  // namespace tessaro

#include "platform/win32/clock_win32.h"
#include "platform/win32/file_win32.h"
#include "platform/win32/hid_win32.h"
#include "platform/win32/update_guard_win32.h"
#include "platform/system.h"

#include <windows.h>

namespace tessaro {

struct SystemBackends::Impl {
  Win32Clock clock;
  Win32FileSystem files;
  Win32HidBackend hid;
  Clock* previousClock = nullptr;
  FileSystem* previousFiles = nullptr;
  HidBackend* previousHid = nullptr;
  Win32UpdateGuard guard;
  UpdateGuard* previousGuard = nullptr;
};

SystemBackends::SystemBackends() : impl_(std::make_unique<Impl>()) {
  impl_->previousClock = InstallClock(&impl_->clock);
  impl_->previousFiles = InstallFileSystem(&impl_->files);
  impl_->previousHid = InstallHid(&impl_->hid);
  impl_->previousGuard = InstallUpdateGuard(&impl_->guard);
}

SystemBackends::~SystemBackends() {
  InstallUpdateGuard(impl_->previousGuard);
  InstallHid(impl_->previousHid);
  InstallFileSystem(impl_->previousFiles);
  InstallClock(impl_->previousClock);
}

// The C library's rename refuses an existing target on Windows.
bool MoveFileOver(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace tessaro

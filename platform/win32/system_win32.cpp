#include "base/seams.h"
#include "base/system.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/file_win32.h"
#include "platform/win32/hid_win32.h"
#include "platform/win32/update_guard_win32.h"

#include <windows.h>

namespace tessaro {

struct SystemBackends::Impl {
  Win32Clock clock;
  Win32FileSystem files;
  Win32HidBackend hid;
  Win32UpdateGuard guard;
  Installed<Clock> installedClock{&clock};
  Installed<FileSystem> installedFiles{&files};
  Installed<HidBackend> installedHid{&hid};
  Installed<UpdateGuard> installedGuard{&guard};
};

SystemBackends::SystemBackends() : impl_(std::make_unique<Impl>()) {}

SystemBackends::~SystemBackends() = default;

// The C library's rename refuses an existing target on Windows.
bool MoveFileOver(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace tessaro

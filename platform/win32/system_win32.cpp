#include "base/seams.h"
#include "base/system.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/file_win32.h"
#include "platform/win32/hid_win32.h"
#include "platform/win32/update_guard_win32.h"

#include <windows.h>

#include <cstdio>

namespace tessaro {

struct SystemBackends::Impl {
  Utf8ConsoleOutput console;
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

void OpenStandardStreams() {
  struct Stream {
    DWORD id;
    FILE* file;
    const char* mode;
  };
  for (const Stream& stream : {Stream{STD_INPUT_HANDLE, stdin, "r"}, Stream{STD_OUTPUT_HANDLE, stdout, "w"},
                               Stream{STD_ERROR_HANDLE, stderr, "w"}}) {
    const HANDLE handle = GetStdHandle(stream.id);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) continue;
    // The C library's descriptor of a missing handle stays unused, so no file
    // the program opens can become it; pointed at NUL, its writes go nowhere
    // and reads find the end at once.
    if (std::freopen("NUL", stream.mode, stream.file) == nullptr) std::clearerr(stream.file);
  }
}

// The C library's rename refuses an existing target on Windows. A reader
// that has the target open without sharing its deletion (a script reading
// the result, an antivirus scanner looking at the new file) makes the move
// fail for a moment: it is tried again, up to about a second.
bool MoveFileOver(const char* from, const char* to) {
  constexpr int kAttempts = 20;
  constexpr uint32_t kPauseMs = 50;
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) return true;
    const DWORD error = GetLastError();
    if (attempt == kAttempts || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)) return false;
    TheClock().SleepMs(kPauseMs);
  }
}

}  // namespace tessaro

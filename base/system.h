#pragma once
// The platform's own backends of the clock, file and HID seams. The build
// links exactly one implementation (platform/win32 or platform/linux).
#include <memory>

namespace tessaro {

// Installs the platform's clock, file system and HID backend for the life
// of the object, and restores what was installed before when it ends.
class SystemBackends {
 public:
  SystemBackends();
  ~SystemBackends();
  SystemBackends(const SystemBackends&) = delete;
  SystemBackends& operator=(const SystemBackends&) = delete;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The first call of every program's main, before anything opens a file: a
// program started with standard input, output or error closed (`>&-`, a
// service or a scheduler that gives it none) would otherwise hand the
// stream's number to the next file it opens, the controller's node among
// them, and its console text would be written there. A missing stream is
// opened on the null device; on Windows, where a new handle never takes a
// standard one's place, the C library's stream is pointed at NUL.
void OpenStandardStreams();

// Moves the file `from` over `to` in one step, replacing `to` if it exists,
// so that a reader of `to` finds the old file or the new one, never a mix.
bool MoveFileOver(const char* from, const char* to);

}  // namespace tessaro

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

// Moves the file `from` over `to` in one step, replacing `to` if it exists,
// so that a reader of `to` finds the old file or the new one, never a mix.
bool MoveFileOver(const char* from, const char* to);

}  // namespace tessaro

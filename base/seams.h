#pragma once
// What a job runs against: the clock, the file system, the HID backend and
// the update guard installed for the process. Until a main installs its
// backends, each seam is one that does nothing (every call fails, sleeps
// return at once, interruptions act as usual). Every
// main and every test double installs through Installed, the one
// install-and-restore pattern.
#include "base/clock.h"
#include "base/file.h"
#include "base/hid.h"
#include "base/update_guard.h"

namespace tessaro {

inline Clock* InstallSeam(Clock* clock) { return InstallClock(clock); }
inline FileSystem* InstallSeam(FileSystem* files) { return InstallFileSystem(files); }
inline HidBackend* InstallSeam(HidBackend* hid) { return InstallHid(hid); }
inline UpdateGuard* InstallSeam(UpdateGuard* guard) { return InstallUpdateGuard(guard); }

// Installs one backend of a seam for the life of the object and brings back
// the one installed before when it ends, so that nested installs (a test's
// fake over the platform's backend) unwind in order.
template <typename Seam>
class Installed {
 public:
  explicit Installed(Seam* backend) : previous_(InstallSeam(backend)) {}
  ~Installed() { InstallSeam(previous_); }
  Installed(const Installed&) = delete;
  Installed& operator=(const Installed&) = delete;

  // The backend installed before, for a wrapper that forwards to it.
  Seam& previous() const { return *previous_; }

 private:
  Seam* previous_;
};

}  // namespace tessaro

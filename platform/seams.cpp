#include "platform/clock.h"
#include "platform/file.h"
#include "platform/update_guard.h"

namespace tessaro {
namespace {

class NoClock final : public Clock {
 public:
  UtcTime NowUtc() override { return {}; }
  void SleepMs(uint32_t) override {}
};

class NoFileSystem final : public FileSystem {
 public:
  bool OpenForRead(const char*, FileHandle& out) override {
    out = kInvalidFileHandle;
    return false;
  }
  uint32_t SizeLow32(FileHandle) override { return 0; }
  bool Read(FileHandle, uint8_t*, uint32_t, uint32_t& readBytes) override {
    readBytes = 0;
    return false;
  }
  void Close(FileHandle) override {}
  uint32_t LastError() override { return 0; }
  bool Delete(const char*) override { return false; }
  bool OpenForAppend(const char*, FileHandle& out) override {
    out = kInvalidFileHandle;
    return false;
  }
  bool Append(FileHandle, const char*, uint32_t) override { return false; }
};

class NoUpdateGuard final : public UpdateGuard {
 public:
  void Begin() override {}
  void End() override {}
};

NoClock noClock;
NoUpdateGuard noUpdateGuard;
UpdateGuard* installedGuard = &noUpdateGuard;
NoFileSystem noFileSystem;
Clock* installedClock = &noClock;
FileSystem* installedFiles = &noFileSystem;

}  // namespace

Clock& TheClock() { return *installedClock; }

Clock* InstallClock(Clock* clock) {
  Clock* previous = installedClock;
  installedClock = clock != nullptr ? clock : &noClock;
  return previous;
}

FileSystem& TheFileSystem() { return *installedFiles; }

FileSystem* InstallFileSystem(FileSystem* files) {
  FileSystem* previous = installedFiles;
  installedFiles = files != nullptr ? files : &noFileSystem;
  return previous;
}

UpdateGuard& TheUpdateGuard() { return *installedGuard; }

UpdateGuard* InstallUpdateGuard(UpdateGuard* guard) {
  UpdateGuard* previous = installedGuard;
  installedGuard = guard != nullptr ? guard : &noUpdateGuard;
  return previous;
}

}  // namespace tessaro

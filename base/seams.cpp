#include "base/seams.h"

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

class NoHid final : public HidBackend {
 public:
  std::unique_ptr<HidWalk> BeginWalk() override { return std::make_unique<ListWalk>(std::vector<HidInterface>{}); }
  bool Open(const HidInterface&, HidHandle& out) override {
    out = kInvalidHidHandle;
    return false;
  }
  bool GetCaps(HidHandle, uint16_t&, uint16_t&) override { return false; }
  bool GetVendorId(HidHandle, uint16_t&) override { return false; }
  bool SetOutputReport(HidHandle, const Report&) override { return false; }
  bool GetInputReport(HidHandle, Report&) override { return false; }
  void Close(HidHandle) override {}
  uint32_t LastError() override { return 0; }
};

class NoUpdateGuard final : public UpdateGuard {
 public:
  void Begin() override {}
  void End() override {}
};

NoClock noClock;
NoFileSystem noFileSystem;
NoHid noHid;
NoUpdateGuard noUpdateGuard;
Clock* installedClock = &noClock;
FileSystem* installedFiles = &noFileSystem;
HidBackend* installedHid = &noHid;
UpdateGuard* installedGuard = &noUpdateGuard;

// Installs `backend` (the do-nothing one for nullptr); returns the one before.
template <typename Seam>
Seam* Swap(Seam*& installed, Seam* backend, Seam& none) {
  Seam* previous = installed;
  installed = backend != nullptr ? backend : &none;
  return previous;
}

}  // namespace

Clock& TheClock() { return *installedClock; }
FileSystem& TheFileSystem() { return *installedFiles; }
HidBackend& TheHid() { return *installedHid; }
UpdateGuard& TheUpdateGuard() { return *installedGuard; }

Clock* InstallClock(Clock* clock) { return Swap<Clock>(installedClock, clock, noClock); }
FileSystem* InstallFileSystem(FileSystem* files) { return Swap<FileSystem>(installedFiles, files, noFileSystem); }
HidBackend* InstallHid(HidBackend* backend) { return Swap<HidBackend>(installedHid, backend, noHid); }
UpdateGuard* InstallUpdateGuard(UpdateGuard* guard) { return Swap<UpdateGuard>(installedGuard, guard, noUpdateGuard); }

}  // namespace tessaro

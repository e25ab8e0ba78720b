#include "tests/reliability/fault_model.h"

namespace tessaro::reliability {
namespace {

// Registers, commands and loop counts are written here again on purpose
// instead of taken from transport/ and update/: the model is an independent
// oracle of the jobs, so a count changed in a job fails the fault matrix
// instead of moving the model along with it.

// Registers and commands, as the controller's interface numbers them.
constexpr uint16_t kVersion = 0x8240;
constexpr uint16_t kConfigHead = 0x8050;
constexpr uint16_t kConfigControl = 0x8040;
constexpr uint16_t kPatchState = 0x5095;
constexpr uint16_t kChunkBuffer = 0x9000;
constexpr uint16_t kFlashState = 0x5096;
constexpr uint16_t kFlashDebug = 0xF300;
constexpr uint8_t kSwitchToPatch = 0x10;
constexpr uint8_t kStartUpdate = 0x11;
constexpr uint8_t kLoadFlash = 0x12;
constexpr uint8_t kRestart = 0x13;

// The counts of the jobs' loops.
constexpr int kOpenAttempts = 4;
constexpr int kVersionReads = 5;
constexpr int kFwAttempts = 3;
constexpr int kPatchPolls = 5;
constexpr int kChunkSends = 12;
constexpr int kFlashPolls = 100;
constexpr int kRestartSends = 3;
constexpr int kCfgAttempts = 5;
constexpr int kCfgPolls = 5;
constexpr uint32_t kBytesPerWriteReport = 55;

struct Head {
  uint8_t version = 0;
  bool intact = true;
};

class Run {
 public:
  Run(const Case& run, const Files& files, const Controller& controller)
      : device_(run.device), faults_(run.faults), files_(files), controller_(controller) {
    held_.version = controller.configVersion;
  }

  Outcome Predict(Job job) {
    switch (job) {
      case Job::kPid:
        out_.result = OpenForJob() && VersionBlock() ? 0 : -1;
        break;
      case Job::kVid:
        out_.result = OpenForJob() && VersionBlock() ? PackedVid() : -1;
        break;
      case Job::kSensorId:
        out_.result = OpenForJob() && VersionBlock() ? controller_.sensorByte & 0x0F : 255;
        break;
      case Job::kCfgVersion:
        out_.result = CfgVersion();
        break;
      case Job::kFirmware:
        out_.result = UpdateFw();
        break;
      case Job::kConfiguration:
        out_.result = UpdateCfg();
        break;
    }
    return out_;
  }

 private:
  template <typename Key>
  static bool UseUp(std::map<Key, uint32_t>& counters, Key key) {
    auto it = counters.find(key);
    if (it == counters.end() || it->second == 0) return false;
    --it->second;
    return true;
  }
  static bool UseUp(uint32_t& counter) {
    if (counter == 0) return false;
    --counter;
    return true;
  }

  void Sleep(uint32_t ms) {
    ++out_.sleeps;
    out_.sleptMs += ms;
  }

  // A report reaches the controller; one that follows a write cut short
  // ends that write for it.
  void Deliver() {
    if (writeCut_) ++out_.brokenWrites;
    writeCut_ = false;
  }

  // A register read: its request, then its reply, which a fault may fail or
  // give a wrong length; either way the tool does not take it.
  bool Read(uint16_t address) {
    ++out_.outReports;
    Deliver();
    ++out_.inReports;
    if (UseUp(faults_.readFailures, address)) return false;
    return !UseUp(faults_.lengthMismatch, address);
  }

  // A register write of `bytes`: one report per 55 bytes, each carrying its
  // own address; the first report that fails ends the write.
  bool Write(uint16_t address, uint32_t bytes) {
    const uint32_t reports = (bytes + kBytesPerWriteReport - 1) / kBytesPerWriteReport;
    for (uint32_t report = 0; report < reports; ++report) {
      ++out_.outReports;
      if (UseUp(faults_.writeFailures, static_cast<uint16_t>(address + report * kBytesPerWriteReport))) {
        writeCut_ = report > 0;
        return false;
      }
      Deliver();
    }
    return true;
  }

  bool Command(uint8_t command) {
    ++out_.outReports;
    if (UseUp(faults_.commandFailures, command)) return false;
    Deliver();
    return true;
  }

  // A trigger arms its acknowledgement unless a refusal uses it up.
  bool Trigger(Ack ack) { return !UseUp(faults_.refuse[ack]); }

  // Up to `polls` reads; the acknowledgement shows from the ackAfter-th
  // read after its trigger on, and every miss is followed by a sleep.
  bool Poll(uint16_t address, Ack ack, bool armed, int polls, uint32_t sleepMs) {
    const uint32_t after = faults_.ackAfter[ack];
    for (int read = 1; read <= polls; ++read) {
      const bool answered = Read(address);
      if (answered && armed && after != 0 && static_cast<uint32_t>(read) >= after) return true;
      Sleep(sleepMs);
    }
    return false;
  }

  bool OpenForJob() {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
      ++out_.walks;
      const bool hidden = UseUp(faults_.openFailures);
      if (device_.present && !device_.foreignVendor && device_.matchingCollections > 0 && !hidden) {
        out_.opened = true;
        return true;
      }
      Sleep(2000);
    }
    return false;
  }

  bool VersionBlock() {
    for (int read = 0; read < kVersionReads; ++read) {
      if (Read(kVersion)) return true;
    }
    return false;
  }

  int32_t PackedVid() const {
    const uint32_t packed = uint32_t{controller_.vid[0]} << 24 | uint32_t{controller_.vid[1]} << 16 |
                            uint32_t{controller_.vid[2]} << 8 | controller_.vid[3];
    return static_cast<int32_t>(packed);
  }

  int32_t CfgVersion() {
    if (!OpenForJob()) return 255;
    Sleep(100);
    return Read(kConfigHead) ? held_.version : 255;
  }

  // The image matches the controller's product and carries another VID, so
  // the update goes ahead whenever the controller is read.
  int32_t UpdateFw() {
    if (!OpenForJob()) return -1;
    if (!VersionBlock()) return -2;
    int32_t result = -1;
    for (int attempt = 0; attempt < kFwAttempts; ++attempt) {
      result = DownloadFw();
      if (result >= 0) break;
      Sleep(200);
    }
    if (result < 0) return result;
    Sleep(1000);
    return VersionBlock() ? 0 : -2;
  }

  int32_t DownloadFw() {
    ++out_.attempts;
    if (!Command(kSwitchToPatch)) return -2;
    const bool patchArmed = Trigger(kPatchAck);
    Sleep(250);
    if (!Poll(kPatchState, kPatchAck, patchArmed, kPatchPolls, 30)) return -2;
    if (!Command(kStartUpdate)) return -2;
    Sleep(100);
    for (uint32_t chunk : files_.chunkBytes) {
      for (int send = 1;; ++send) {
        if (!Write(kChunkBuffer, chunk)) return -2;
        if (!Command(kLoadFlash)) return -2;
        const bool flashArmed = Trigger(kFlashAck);
        Sleep(80);
        if (Poll(kFlashState, kFlashAck, flashArmed, kFlashPolls, 2)) break;
        Read(kFlashDebug);
        if (send == kChunkSends) return -1;
      }
    }
    for (int send = 0; send < kRestartSends; ++send) {
      if (Command(kRestart)) {
        Sleep(200);
        return 0;
      }
      Sleep(300);
    }
    Sleep(200);
    return -1;
  }

  // The file's version is above the controller's, so the update goes ahead
  // whenever the controller is opened.
  int32_t UpdateCfg() {
    if (!OpenForJob()) return -1;
    Head head;  // zeros until a read succeeds: version 0, intact
    if (Read(kConfigHead)) head = held_;
    if (head.version >= files_.configVersion) return -6;
    int32_t result = -1;
    for (int attempt = 0; attempt < kCfgAttempts; ++attempt) {
      result = DownloadCfg();
      Sleep(200);
      if (result < 0) continue;
      if (Read(kConfigHead)) head = held_;
      if (!head.intact) {
        result = -5;
      } else if (head.version != files_.configVersion) {
        result = -7;
      } else {
        return 0;
      }
    }
    return result;
  }

  int32_t DownloadCfg() {
    ++out_.attempts;
    if (!Write(kConfigControl, 3)) return -2;
    const bool acceptArmed = Trigger(kCfgAcceptAck);
    Sleep(100);
    if (!Poll(kConfigControl, kCfgAcceptAck, acceptArmed, kCfgPolls, 30)) return -2;
    if (!Write(kConfigHead, files_.configBytes)) return -2;
    if (!Write(kConfigControl, 1)) return -2;
    const bool finishArmed = Trigger(kCfgFinishAck);
    if (finishArmed) {
      // Acknowledged: the controller takes the bytes unless told to keep its
      // own, and a corrupted head no longer sums to 0.
      if (!UseUp(faults_.keepConfig)) held_ = Head{files_.configVersion, true};
      if (UseUp(faults_.corruptHead)) held_.intact = false;
    }
    Sleep(80);
    if (!Poll(kConfigControl, kCfgFinishAck, finishArmed, kCfgPolls, 30)) return -3;
    return 0;
  }

  Device device_;
  Faults faults_;
  const Files& files_;
  const Controller& controller_;
  Head held_;  // the head of the configuration the controller holds
  bool writeCut_ = false;
  Outcome out_;
};

}  // namespace

const char* JobName(Job job) {
  switch (job) {
    case Job::kPid:
      return "pid";
    case Job::kVid:
      return "vid";
    case Job::kSensorId:
      return "sensorid";
    case Job::kCfgVersion:
      return "cfgver";
    case Job::kFirmware:
      return "firmware";
    case Job::kConfiguration:
      return "config";
  }
  return "";
}

Outcome Predict(const Case& run, const Files& files, const Controller& controller) {
  return Run(run, files, controller).Predict(run.job);
}

}  // namespace tessaro::reliability

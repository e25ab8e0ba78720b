// The reply path: every job runs to its end against a controller whose
// answers come from the input. The last input byte picks the job (and, for
// the updates, ignoreVer, the image and the sub-firmware mask); then
//   - each input report the job fetches takes one control byte from the
//     front: 0 (and an exhausted input) answers as a willing controller
//     would, 1 fails the fetch, 2 answers the length asked for with data
//     from the input, 3 fills the whole report from the input (any announced
//     length, any data), 4 and above answer the length asked for with every
//     data byte equal to the control byte;
//   - each other call (open, capabilities, vendor ID, output report) takes
//     one byte from the back, and fails when its low three bits are all set.
// Checked: nothing crashes or reads outside a buffer; every report the job
// sends is well framed; nothing is written to the controller unless it
// acknowledged the step before; calls and sleeps stay within the job's
// counts; the device is closed at the end; the result is one the job
// documents.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/seams.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/fake_clock.h"
#include "tools/image_builder.h"
#include "transport/registers.h"
#include "update/jobs.h"

namespace tessaro::fuzzing {
namespace {

using testing::BuildFwImage;
using testing::FwImageSpec;
using testing::MakeSubFirmware;

enum Job { kPid, kVid, kSensorId, kCfgVersion, kFirmware, kConfiguration, kJobCount };

constexpr HidHandle kOtherHandle = 0x51;
constexpr HidHandle kControllerHandle = 0x52;
const std::wstring kOtherPath = L"\\\\?\\hid#fuzz&col01";
const std::wstring kControllerPath = L"\\\\?\\hid#fuzz&col02";

// The loop counts of the jobs: bounds for the calls and sleeps of one run.
// Written again on purpose instead of taken from update/: an independent
// oracle, so that a loop that grows in a job is a finding here.
constexpr uint64_t kOpenAttempts = 4;
constexpr uint64_t kCallsPerWalk = 1 + 2 * 4;  // the walk, then open, caps, vendor ID, close of each interface
constexpr uint64_t kVersionReads = 5;
constexpr uint64_t kFwAttempts = 3;
constexpr uint64_t kPatchPolls = 5;
constexpr uint64_t kSends = 12;
constexpr uint64_t kFlashPolls = 100;
constexpr uint64_t kRestartSends = 3;
constexpr uint64_t kCfgAttempts = 5;
constexpr uint64_t kAckPolls = 5;

uint64_t ReportsFor(uint64_t bytes) { return (bytes + reg::kWriteChunkBytes - 1) / reg::kWriteChunkBytes; }

// A file a job loads, and what one attempt of it can cost.
struct JobFile {
  std::string name;
  uint64_t writeReports = 0;  // register-write reports of every chunk or of the configuration
  uint64_t chunks = 0;        // flash chunks (firmware)
};

struct JobFiles {
  std::vector<JobFile> firmware;
  std::vector<JobFile> configuration;
};

JobFile AddFirmware(const std::string& name, const FwImageSpec& spec) {
  Files().files[name] = BuildFwImage(spec);
  JobFile file{name, 0, 0};
  for (const auto& sub : spec.subs) {
    for (uint64_t done = 0; done < sub.data.size(); done += reg::kFlashChunkBytes) {
      file.writeReports += ReportsFor(std::min<uint64_t>(reg::kFlashChunkBytes, sub.data.size() - done));
      ++file.chunks;
    }
  }
  return file;
}

JobFile AddConfiguration(const std::string& name, const std::vector<uint8_t>& bytes) {
  Files().files[name] = testing::CfgText(bytes);
  return JobFile{name, ReportsFor(bytes.size()), 0};
}

const JobFiles& TheJobFiles() {
  static const JobFiles* files = [] {
    auto* made = new JobFiles;
    // Every kind, an unknown type (34, selected by bit 2 like KV30), and an
    // odd-length sub-firmware that ends the image.
    FwImageSpec every;
    every.pidField = "TS01";
    every.vid = {0x02, 0x00, 0x00, 0x02};
    every.subs = {MakeSubFirmware(2, 130, 0x0000, 1), MakeSubFirmware(5, 7, 0x0100, 2),
                  MakeSubFirmware(6, 56, 0x0200, 3),  MakeSubFirmware(11, 55, 0x0300, 4),
                  MakeSubFirmware(14, 2, 0x0400, 5),  MakeSubFirmware(34, 3, 0x0500, 6)};
    made->firmware.push_back(AddFirmware("every.bin", every));
    // A sub-firmware of two chunks, the second of one byte.
    FwImageSpec twoChunks = every;
    twoChunks.subs = {MakeSubFirmware(6, 9, 0x0200, 3), MakeSubFirmware(11, 1, 0x0300, 4),
                      MakeSubFirmware(2, 4097, 0x0000, 1)};
    made->firmware.push_back(AddFirmware("two-chunks.bin", twoChunks));
    // No sub-firmware at all: every attempt lacks KV30.
    FwImageSpec empty = every;
    empty.subs.clear();
    made->firmware.push_back(AddFirmware("empty.bin", empty));
    made->firmware.push_back(JobFile{"missing.bin", 0, 0});

    std::vector<uint8_t> body;
    for (uint8_t i = 1; i <= 70; ++i) body.push_back(i);
    made->configuration.push_back(AddConfiguration("keep.txt", testing::BalancedCfgBytes(0x85, body)));
    made->configuration.push_back(AddConfiguration("temporary.txt", testing::BalancedCfgBytes(0x05, {0x11, 0x22})));
    made->configuration.push_back(AddConfiguration("single.txt", {0x00}));
    made->configuration.push_back(JobFile{"missing.txt", 0, 0});
    return made;
  }();
  return *files;
}

uint16_t Word(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

// The controller: fed by the input, and checking what it is sent.
class ReplyHid final : public HidBackend {
 public:
  explicit ReplyHid(FuzzedDataProvider& input) : input_(input) {}
  ReplyHid(const ReplyHid&) = delete;
  ReplyHid& operator=(const ReplyHid&) = delete;

  std::unique_ptr<HidWalk> BeginWalk() override {
    ++calls;
    return std::make_unique<ListWalk>(std::vector<HidInterface>{{kOtherPath, 0}, {kControllerPath, 1}});
  }

  bool Open(const HidInterface& target, HidHandle& out) override {
    ++calls;
    out = kInvalidHidHandle;
    if (Fails()) return false;
    out = target.path == kControllerPath ? kControllerHandle : kOtherHandle;
    FUZZ_CHECK(open_.insert(out).second);
    return true;
  }

  bool GetCaps(HidHandle handle, uint16_t& usagePage, uint16_t& usage) override {
    CheckOpen(handle);
    if (Fails()) return false;
    usagePage = handle == kControllerHandle ? reg::kUsagePage : 0x000D;
    usage = handle == kControllerHandle ? reg::kUsage : 0x0004;
    return true;
  }

  bool GetVendorId(HidHandle handle, uint16_t& vendorId) override {
    CheckOpen(handle);
    if (Fails()) return false;
    vendorId = kVendorId;
    return true;
  }

  bool SetOutputReport(HidHandle handle, const Report& report) override {
    CheckOpen(handle);
    FUZZ_CHECK(handle == kControllerHandle);
    Check(report);
    readPending_ = false;
    if (Fails()) return false;
    Deliver(report);
    return true;
  }

  bool GetInputReport(HidHandle handle, Report& report) override {
    CheckOpen(handle);
    FUZZ_CHECK(handle == kControllerHandle);
    FUZZ_CHECK(report[0] == reg::kReportId);
    for (int i = 1; i < kReportLengthBytes; ++i) FUZZ_CHECK(report[i] == 0);
    // The tool fetches only right after a read request went out.
    FUZZ_CHECK(readPending_);
    readPending_ = false;

    const std::vector<uint8_t> control = input_.ConsumeBytes<uint8_t>(1);
    const uint8_t mode = control.empty() ? 0 : control[0];
    uint8_t* data = report + 5;
    if (mode == 1) return false;
    if (mode == 3) {
      const std::vector<uint8_t> bytes = input_.ConsumeBytes<uint8_t>(kReportLengthBytes - 1);
      if (!bytes.empty()) std::memcpy(report + 1, bytes.data(), bytes.size());
    } else {
      report[3] = static_cast<uint8_t>(readLength_ >> 8);
      report[4] = static_cast<uint8_t>(readLength_);
      if (mode == 0) {
        Answer(data);
      } else if (mode == 2) {
        const std::vector<uint8_t> bytes = input_.ConsumeBytes<uint8_t>(readLength_);
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
      } else {
        std::memset(data, mode, readLength_);
      }
    }
    // The tool takes a reply only when it announces the length asked for.
    if (Word(report + 3) == readLength_) NoteAcknowledgement(data[0]);
    return true;
  }

  void Close(HidHandle handle) override {
    CheckOpen(handle);
    open_.erase(handle);
  }

  uint32_t LastError() override { return 31; }

  uint64_t calls = 0;
  bool writeAttempted = false;
  bool AnyOpen() const { return !open_.empty(); }

 private:
  bool Fails() { return (input_.ConsumeIntegral<uint8_t>() & 0x07) == 0x07; }

  void CheckOpen(HidHandle handle) {
    ++calls;
    FUZZ_CHECK(open_.count(handle) == 1);
  }

  // Every report the tool sends is well framed, and it changes the
  // controller only on the acknowledgement of the step before: the start
  // of the update program after 0xDD, chunks, load-flash and restart in the
  // update program only, configuration bytes after 0x82, the finish command
  // after the whole configuration.
  void Check(const Report& report) {
    FUZZ_CHECK(report[0] == reg::kReportId);
    const uint8_t command = report[1];
    if (command == reg::kCmdRegisterAccess && report[5] == reg::kDirRead) {
      FUZZ_CHECK(report[2] == 0 && report[3] == 0 && report[4] == 5);
      const uint16_t length = Word(report + 8);
      FUZZ_CHECK(length >= 1 && length <= reg::kMaxReadBytes);
      for (int i = 10; i < kReportLengthBytes; ++i) FUZZ_CHECK(report[i] == 0);
      return;
    }
    writeAttempted = true;
    switch (command) {
      case reg::kCmdSwitchToPatch:
        patchAcked_ = false;
        inUpdateProgram_ = false;
        break;
      case reg::kCmdStartUpdate:
        FUZZ_CHECK(patchAcked_);
        break;
      case reg::kCmdLoadFlash:
      case reg::kCmdRestart:
        FUZZ_CHECK(inUpdateProgram_);
        break;
      case reg::kCmdRegisterAccess: {
        FUZZ_CHECK(report[5] == reg::kDirWrite);
        const uint16_t length = Word(report + 8);
        FUZZ_CHECK(length >= 1 && length <= reg::kWriteChunkBytes && report[4] == length + 5);
        FUZZ_CHECK(report[2] == 0 || (report[2] == 1 && length == reg::kWriteChunkBytes));
        for (int i = 10 + length; i < kReportLengthBytes; ++i) FUZZ_CHECK(report[i] == 0);
        const uint16_t address = Word(report + 6);
        if (address == reg::kConfigCtrlAddr) {
          if (length == 3) {
            accepted_ = false;
            finishing_ = false;
            configWritten_ = false;
          } else {
            FUZZ_CHECK(length == 1 && report[10] == reg::kConfigFinishCmd);
            FUZZ_CHECK(accepted_ && configWritten_);
            finishing_ = true;
          }
        } else if (address >= reg::kChunkBufferAddr) {
          FUZZ_CHECK(inUpdateProgram_);
        } else {
          FUZZ_CHECK(address >= reg::kConfigAddr && accepted_);
        }
        break;
      }
      default:
        FUZZ_CHECK(!"unknown command");
    }
  }

  // What a delivered report does to the controller.
  void Deliver(const Report& report) {
    const uint8_t command = report[1];
    const uint16_t address = Word(report + 6);
    if (command == reg::kCmdRegisterAccess && report[5] == reg::kDirRead) {
      readPending_ = true;
      readAddress_ = address;
      readLength_ = Word(report + 8);
    } else if (command == reg::kCmdStartUpdate) {
      inUpdateProgram_ = true;
    } else if (command == reg::kCmdRestart) {
      inUpdateProgram_ = false;
    } else if (command == reg::kCmdRegisterAccess && address == reg::kConfigCtrlAddr) {
      lastControlWrite_ = report[10];
    } else if (command == reg::kCmdRegisterAccess && address >= reg::kConfigAddr && address < reg::kChunkBufferAddr) {
      if (address == reg::kConfigAddr) std::memcpy(head_, report + 10, std::min<size_t>(sizeof head_, report[9]));
      configWritten_ = report[2] == 0;
    }
  }

  void NoteAcknowledgement(uint8_t value) {
    if (readAddress_ == reg::kPatchStateAddr && value == reg::kPatchReady) patchAcked_ = true;
    if (readAddress_ == reg::kConfigCtrlAddr && value == reg::kConfigAccepted && !finishing_) accepted_ = true;
  }

  // A willing controller's answer.
  void Answer(uint8_t* data) const {
    static const uint8_t kVersion[reg::kVersionBytes] = {'T', 'S', '0', '1', 0x01, 0x00, 0x00, 0x01, 0, 0, 0x13, 0};
    switch (readAddress_) {
      case reg::kVersionAddr:
        std::memcpy(data, kVersion, std::min<size_t>(readLength_, sizeof kVersion));
        break;
      case reg::kConfigAddr:
        std::memcpy(data, head_, std::min<size_t>(readLength_, sizeof head_));
        break;
      case reg::kPatchStateAddr:
        data[0] = reg::kPatchReady;
        break;
      case reg::kFlashStateAddr:
        data[0] = reg::kFlashDone;
        break;
      case reg::kConfigCtrlAddr:
        data[0] = lastControlWrite_ == reg::kConfigFinishCmd ? reg::kConfigFinished : reg::kConfigAccepted;
        break;
      default:
        break;
    }
  }

  FuzzedDataProvider& input_;
  Installed<HidBackend> installed_{this};
  std::set<HidHandle> open_;

  bool readPending_ = false;
  uint16_t readAddress_ = 0;
  uint16_t readLength_ = 0;

  bool patchAcked_ = false;
  bool inUpdateProgram_ = false;
  bool accepted_ = false;
  bool finishing_ = false;
  bool configWritten_ = false;
  uint8_t lastControlWrite_ = 0;
  uint8_t head_[3] = {0x84, 0x00, 0x7C};
};

// The most HID calls and sleeps a job can make, from its loop counts.
struct Bounds {
  uint64_t calls = 0;
  uint64_t sleeps = 0;
};

Bounds OpenBounds() { return {kOpenAttempts * kCallsPerWalk + 1, kOpenAttempts}; }

Bounds JobBounds(Job job, const JobFile& file) {
  Bounds bounds = OpenBounds();
  switch (job) {
    case kPid:
    case kVid:
    case kSensorId:
      bounds.calls += kVersionReads * 2;
      break;
    case kCfgVersion:
      bounds.calls += 2;
      bounds.sleeps += 1;
      break;
    case kFirmware: {
      const uint64_t perChunkSend = 1 + kFlashPolls * 2 + 2;
      const uint64_t chunkCalls = kSends * (file.writeReports + file.chunks * perChunkSend);
      const uint64_t attemptCalls = 1 + kPatchPolls * 2 + 1 + chunkCalls + kRestartSends;
      const uint64_t attemptSleeps = 1 + kPatchPolls + 1 + kSends * file.chunks * (1 + kFlashPolls) + kRestartSends + 1;
      bounds.calls += 2 * kVersionReads * 2 + kFwAttempts * attemptCalls;
      bounds.sleeps += kFwAttempts * (attemptSleeps + 1) + 1;
      break;
    }
    case kConfiguration: {
      const uint64_t attemptCalls = 1 + kAckPolls * 2 + file.writeReports + 1 + kAckPolls * 2 + 2;
      bounds.calls += 2 + kCfgAttempts * attemptCalls;
      bounds.sleeps += kCfgAttempts * (1 + kAckPolls + 1 + kAckPolls + 1);
      break;
    }
    default:
      break;
  }
  return bounds;
}

}  // namespace
}  // namespace tessaro::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace tessaro;
  using namespace tessaro::fuzzing;

  const JobFiles& files = TheJobFiles();
  FuzzedDataProvider input(bytes, size);
  const uint8_t choice = input.ConsumeIntegral<uint8_t>();
  const Job job = static_cast<Job>(choice % kJobCount);
  const bool ignoreVersion = (choice & 0x08) != 0;
  const size_t fileIndex = (choice >> 4) & 0x03;
  const uint32_t subTypeFlag = (choice & 0x40) != 0 ? input.ConsumeIntegral<uint32_t>() : 0x844;

  testing::FakeClock clock;
  ReplyHid hid(input);
  int32_t result = 0;
  JobFile file;
  switch (job) {
    case kPid:
      result = ReadFwPid();
      FUZZ_CHECK(result == 0 || result == -1);
      break;
    case kVid:
      (void)ReadFwVid();
      break;
    case kSensorId:
      result = ReadSensorId();
      FUZZ_CHECK((result >= 0 && result <= 15) || result == 255);
      break;
    case kCfgVersion:
      result = ReadCfgVersion();
      FUZZ_CHECK(result >= 0 && result <= 255);
      break;
    case kFirmware:
      file = files.firmware[fileIndex];
      result = UpdateFw(file.name.c_str(), ignoreVersion, subTypeFlag);
      FUZZ_CHECK(result == 0 || result == -1 || result == -2);
      // An image that did not load never reaches the controller.
      if (file.name == "missing.bin") FUZZ_CHECK(!hid.writeAttempted);
      break;
    case kConfiguration:
      file = files.configuration[fileIndex];
      result = UpdateCfg(file.name.c_str(), ignoreVersion);
      FUZZ_CHECK(result == 0 || result == -1 || result == -2 || result == -3 || result == -5 || result == -6 ||
                 result == -7);
      if (file.name == "missing.txt") FUZZ_CHECK(!hid.writeAttempted);
      break;
    default:
      break;
  }
  // Queries never write; every job closes what it opened.
  if (job < kFirmware) FUZZ_CHECK(!hid.writeAttempted);
  FUZZ_CHECK(!hid.AnyOpen());
  FUZZ_CHECK(Files().openHandles == 0);
  const Bounds bounds = JobBounds(job, file);
  FUZZ_CHECK(hid.calls <= bounds.calls);
  FUZZ_CHECK(clock.sleeps.size() <= bounds.sleeps);
  return 0;
}

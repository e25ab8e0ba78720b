#pragma once
// What a job must do against a simulated controller that fails in chosen
// ways: a small model of the jobs' retry structure (open attempts, VERSION
// reads, polls, chunk sends, update attempts) over the simulator's fault
// counters, which are used up one by one as their events happen. From a
// case it predicts the job's result and how many walks, reports, reads and
// sleeps the run takes, so that a test can hold a real run to them.
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessaro::reliability {

enum class Job { kPid, kVid, kSensorId, kCfgVersion, kFirmware, kConfiguration };
const char* JobName(Job job);

// The acknowledgements, in the order of the state file's keys.
enum Ack { kPatchAck = 0, kFlashAck = 1, kCfgAcceptAck = 2, kCfgFinishAck = 3 };

// The device the simulator shows.
struct Device {
  bool present = true;
  bool foreignVendor = false;
  uint32_t otherCollections = 0;
  uint32_t matchingCollections = 1;
};

// The simulator's faults, as its state file names them.
struct Faults {
  uint32_t openFailures = 0;
  std::map<uint16_t, uint32_t> readFailures;
  std::map<uint16_t, uint32_t> lengthMismatch;
  std::map<uint16_t, uint32_t> writeFailures;
  std::map<uint8_t, uint32_t> commandFailures;
  std::array<uint32_t, 4> refuse{};
  std::array<uint32_t, 4> ackAfter{1, 1, 1, 1};
  uint32_t keepConfig = 0;
  uint32_t corruptHead = 0;
};

// The files a run is given: the firmware image's flash chunks in the order
// the job writes them (selected sub-firmwares, 4096 bytes at most each),
// and the configuration's length and version.
struct Files {
  std::vector<uint32_t> chunkBytes;
  uint32_t configBytes = 0;
  uint8_t configVersion = 0;
};

// What the simulator starts with when its state file does not say otherwise.
struct Controller {
  uint8_t vid[4] = {0x01, 0x00, 0x00, 0x01};
  uint8_t sensorByte = 0x13;
  uint8_t configVersion = 0x84;
};

struct Case {
  std::string name;
  Job job = Job::kPid;
  Device device;
  Faults faults;
};

struct Outcome {
  int32_t result = 0;       // the job's result, before the exit code takes its low 8 bits
  bool opened = false;      // the controller's collection was taken
  uint32_t walks = 0;
  uint32_t attempts = 0;    // update attempts begun: 0x10 sends, or send-configuration writes
  uint32_t outReports = 0;  // output reports, delivered or failed
  uint32_t inReports = 0;   // input report fetches, answered or failed
  uint32_t sleeps = 0;
  uint64_t sleptMs = 0;
  // Writes cut after their first report, that the controller then saw
  // broken off by the next report: the one protocol breach a failing send
  // forces on the tool.
  uint32_t brokenWrites = 0;
};

Outcome Predict(const Case& run, const Files& files, const Controller& controller = Controller());

}  // namespace tessaro::reliability

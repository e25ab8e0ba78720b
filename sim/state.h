#pragma once
// What the simulated controller remembers between runs, and the faults a
// user has asked it to show: the contents of the state file.
//
// Factory defaults, chosen so that the samples update a fresh simulator:
//   pid        "TS01"       the sample firmware image carries the same PID
//   vid        01 00 00 01  the sample firmware carries another VID, and holds
//                           its own identity ("TS01" + its VID) at flash byte
//                           address 0 (the default identityAddress), so that
//                           the VERSION block shows the new VID after the restart
//   sensorByte 0x13         sensor ID 3
//   config     16 bytes of version 0x84, head 84 00 7C (sums to 0), the whole
//              configuration also summing to 0; the sample configuration has
//              a higher version (0x85 or above)
//   vendorId   the build's vendor ID
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessaro::sim {

// The four acknowledgements, in the order of their keys in "refuse" and
// "ackAfter".
enum class Ack { kPatch = 0, kFlash = 1, kCfgAccept = 2, kCfgFinish = 3 };
constexpr size_t kAckCount = 4;
extern const char* const kAckKeys[kAckCount];

// Flash byte addresses are 24 bits wide (the load-flash command carries bits
// 23 to 8).
constexpr uint32_t kFlashBytes = 1u << 24;
// The configuration lies from 0x8050 up to the chunk buffer at 0x9000.
constexpr size_t kMaxConfigBytes = 0x9000 - 0x8050;
// Collections of one kind a walk can show.
constexpr uint32_t kMaxCollections = 255;

// A counter fault: the first `after` matching events pass, then the next
// `count` fail. Written as a plain number when nothing is to pass first.
struct Counter {
  uint32_t after = 0;
  uint32_t count = 0;
};
inline bool operator==(const Counter& a, const Counter& b) { return a.after == b.after && a.count == b.count; }

// Uses up one matching event of the counter: true when that event is to
// fail. `changed` is set when the counter moved.
bool UseUp(Counter& counter, bool& changed);

// The controller's mode, kept with the state: a host that dies leaves the
// controller where it was.
enum class Mode { kNormal, kPatch, kUpdateProgram };

// Every counter is used up one by one as its event happens.
struct Faults {
  Counter openFailures;
  std::map<uint16_t, Counter> readFailures;    // key: register address
  std::map<uint16_t, Counter> lengthMismatch;  // key: register address
  std::map<uint16_t, Counter> writeFailures;   // key: address field of a write report
  std::map<uint8_t, Counter> commandFailures;  // key: command code
  std::array<Counter, kAckCount> refuse{};
  // A standing setting, not a counter: the Nth read after a trigger on shows
  // the acknowledgement; 0 means never.
  std::array<uint32_t, kAckCount> ackAfter{1, 1, 1, 1};
  Counter keepConfig;
  Counter corruptHead;
  // Not a fault of the controller but of its host: the process ends
  // abruptly right after its Nth HID event from here (0: never).
  uint32_t killAfterEvents = 0;
};

struct State {
  bool present = true;
  uint16_t vendorId = 0;
  uint32_t otherCollections = 0;
  uint32_t matchingCollections = 1;
  // Controllers on the host, one matching collection each, each with its
  // own files and lock (read from the first controller's file only).
  uint32_t controllers = 1;
  // Characters of the PID, one byte each.
  std::array<uint8_t, 4> pid{};
  std::array<uint8_t, 4> vid{};
  uint8_t sensorByte = 0;
  std::vector<uint8_t> config;
  uint32_t identityAddress = 0;
  bool virtualTime = false;
  Mode mode = Mode::kNormal;
  Faults faults;
};

// A fresh simulator whose device carries `vendorId`.
State FactoryState(uint16_t vendorId);

// Reads the state file's text over `state`, which holds the defaults: a key
// that is missing keeps its value. False on text that is not JSON, an unknown
// key, or a value of the wrong kind; `error` then names the key (as a dotted
// path) and the fault, and `state` is unspecified.
bool ParseState(const std::string& text, State& state, std::string& error);

// The state file's text for `state`: every key but "vendorId", which is
// written only when it differs from `buildVendorId`, so that a state file
// keeps working when the tool is rebuilt for another vendor ID.
std::string SerializeState(const State& state, uint16_t buildVendorId);

}  // namespace tessaro::sim

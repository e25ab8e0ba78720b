#pragma once
// A scripted controller over the fake HID host, for the job tests: register
// reads answer from per-address scripts (then a standing value), outputs can
// be made to fail by command or by write address, and everything the job
// did (reports and sleeps, in order) reads back as the simulator's trace
// would show it, and compacted (wire_timeline.h).
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "tests/support/wire_timeline.h"

namespace tessaro::testing {

// One scripted reply to a register read.
struct ReadStep {
  enum class Kind { kData, kFail, kWrongLength };
  Kind kind = Kind::kData;
  std::vector<uint8_t> bytes;
};
ReadStep Reply(std::vector<uint8_t> bytes);
ReadStep ReplyFails();
ReadStep ReplyWrongLength();
// n replies of one byte each.
std::vector<ReadStep> Replies(uint8_t value, int n);

class ControllerDouble {
 public:
  ControllerDouble();
  ControllerDouble(const ControllerDouble&) = delete;
  ControllerDouble& operator=(const ControllerDouble&) = delete;

  FakeClock clock;
  FakeHid hid;

  // The standing value of a register block: reads of `length` bytes at
  // `address` return the first `length` bytes (zeros past the end).
  std::map<uint16_t, std::vector<uint8_t>> registers;
  // Replies served, in order, before the standing value.
  std::map<uint16_t, std::deque<ReadStep>> scripts;
  void Script(uint16_t address, const std::vector<ReadStep>& steps);

  // The next n output reports of that command (or register writes whose
  // address field is that address) fail.
  std::map<uint8_t, int> commandFailures;
  std::map<uint16_t, int> writeFailures;
  // The controller is not found by the next n walks.
  int absentWalks = 0;
  // The configuration handshake: 0x8040 reads 0x82 after 80 00 80 was
  // written there and 0xFF after 83; bytes written from 0x8050 on become the
  // configuration (its standing value) at the 83, unless keepConfig.
  bool keepConfig = false;

  // The events and the fake clock's sleeps as trace lines, in order.
  std::vector<std::string> Trace() const;
  std::vector<std::string> Timeline() const { return CompactTrace(Trace()); }
  std::vector<Transfer> Transfers() const { return TraceTransfers(Trace()); }
  // The load-flash commands, as bytes 0..10 of their reports.
  std::vector<std::vector<uint8_t>> LoadCommands() const { return TraceLoadCommands(Trace()); }

  // The VERSION block for a PID and VID, sensor byte at 10.
  static std::vector<uint8_t> VersionBlock(const std::string& pid, std::vector<uint8_t> vid, uint8_t sensorByte = 0x13);

 private:
  bool FailOutput(const uint8_t* report);
  void Deliver(const uint8_t* report);
  std::vector<uint8_t> pendingConfig_;
  bool Answer(const Report* lastOut, Report& reply);

  // Sleeps taken before an event, by its index in hid.events. Closes do not
  // pass the fake's failure hook, so they have no entry: a close shows after
  // every sleep taken before the next event that has one.
  std::map<size_t, size_t> sleepsBefore_;
};

}  // namespace tessaro::testing

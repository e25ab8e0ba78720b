#pragma once
// A scripted controller over the fake HID host, for the job tests: register
// reads answer from per-address scripts (then a standing value), outputs can
// be made to fail by command or by write address, and everything the job
// did (reports and sleeps, in order) reads back as a compact timeline:
//
//   "walk" "open" "close"            the device walk, the kept handle
//   "cmd 10"                         a mode command (10, 11 or 13)
//   "load 1000 0120 1233"            a load-flash command: length, address
//                                    bits 23..8, checksum (hex)
//   "write 8040 800080"              one register write (all its reports);
//   "write 9000 [4096]"              data longer than 8 bytes shown by size
//   "read 5095 -> dd"                a register read and the bytes returned
//   "read 5095 -> fail"              ... whose reply did not come
//   "sleep 250"
//   "FAIL cmd 10"                    an output report that failed
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"

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

// One register write as the controller received it (its reports joined).
struct Transfer {
  uint16_t address = 0;
  std::vector<uint8_t> data;
};

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

  std::vector<std::string> Timeline() const;
  std::vector<Transfer> Transfers() const;
  // The load-flash commands, as bytes 0..10 of their reports.
  std::vector<std::vector<uint8_t>> LoadCommands() const;

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

// Replaces runs of a repeated line, or of a repeated pair of lines, by one
// line "{a | b} xN" (or "a xN"), so that polls read at a glance.
std::vector<std::string> Collapse(const std::vector<std::string>& lines);

}  // namespace tessaro::testing

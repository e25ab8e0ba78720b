#pragma once
// Runs of tessaro-sim's backends in-process, in a fresh current directory,
// and what they leave in the simulator's files.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_backends.h"
#include "sim/state.h"
#include "tests/support/fake_clock.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "transport/connection.h"

namespace tessaro::testing {

// The current directory for the life of the object, holding the
// simulator's files.
class SimFolder {
 public:
  SimFolder() : dir_(true) {}

  void WriteState(const std::string& json) const;
  std::string StateText() const;
  // The state file read over the factory defaults; a failure of the test
  // when it does not parse.
  sim::State State() const;
  std::vector<std::string> Trace() const;
  // Trace lines that begin with `prefix`.
  std::vector<std::string> Trace(const std::string& prefix) const;
  std::string Flash() const;
  bool Has(const char* name) const;

 private:
  TempDir dir_;
};

// One run of tessaro-sim: the simulated backends over a clock that never
// waits, and a connection for the test to drive. The connection is closed
// before the backends end, the backends before the clock.
class SimRun {
 public:
  // Opens the connection (one walk) unless told not to.
  explicit SimRun(bool open = true);

  // One raw output report, zero-padded to 65 bytes, on the open connection.
  bool Send(std::initializer_list<uint8_t> bytes);
  bool Send(const std::vector<uint8_t>& bytes);
  // One register read; the byte read, or -1 when the read failed.
  int ReadByte(uint16_t address);
  std::vector<uint8_t> Read(uint16_t address, int32_t lengthBytes);
  int32_t Write(uint16_t address, const std::vector<uint8_t>& data);
  // Commands 0x10 and 0x11: the controller runs its update program after.
  void EnterUpdateProgram();
  // One chunk into the buffer and the load-flash command for it, with its
  // correct checksum.
  void LoadChunk(uint32_t flashAddress, const std::vector<uint8_t>& chunk);
  // The configuration handshake, whatever its acknowledgements read; gives
  // the byte read at 0x8040 after the send and after the finish command.
  std::pair<int, int> DownloadConfig(const std::vector<uint8_t>& config);

  LogCapture log{3};
  FakeClock clock;
  SimBackends sim;
  CConnectionTLC connection;
};

// Load-flash checksum of a chunk, odd last byte paired with 0.
uint16_t Checksum(const std::vector<uint8_t>& chunk);

}  // namespace tessaro::testing

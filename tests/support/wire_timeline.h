#pragma once
// Reads a controller trace (the simulator's trace lines, or the fake HID
// host's events rendered the same way) as a compact timeline of what the
// tool did, one line per register operation or command:
//
//   "walk" "open" "close"            the device walk, an opened interface
//   "cmd 10"                         a mode command (10, 11 or 13)
//   "load 1000 0120 1233"            a load-flash command: length, address
//                                    bits 23..8, checksum (hex)
//   "write 8040 800080"              one register write (all its reports);
//   "write 9000 [4096]"              data longer than 8 bytes shown by size
//   "read 5095 -> dd"                a register read and the bytes returned
//   "read 5095 -> fail"              ... whose reply did not come
//   "read 5095 -> length 2"          ... whose reply announced another length
//   "sleep 250"                      as in the trace
//   "FAIL cmd 10"                    an output report that failed
//   "violation ..."                  as in the trace
#include <cstdint>
#include <string>
#include <vector>

namespace tessaro::testing {

std::vector<std::string> CompactTrace(const std::vector<std::string>& traceLines);

// Replaces runs of a repeated line, or of a repeated pair of lines, by one
// line "{a | b} xN" (or "a xN"), so that polls read at a glance.
std::vector<std::string> Collapse(const std::vector<std::string>& lines);

// The trace file's text as lines.
std::vector<std::string> SplitLines(const std::string& text);

// One register write as the controller received it (its reports joined).
struct Transfer {
  uint16_t address = 0;
  std::vector<uint8_t> data;
};
// Every delivered register write of a trace, and every load-flash command
// (bytes 0 to 10 of its report).
std::vector<Transfer> TraceTransfers(const std::vector<std::string>& traceLines);
std::vector<std::vector<uint8_t>> TraceLoadCommands(const std::vector<std::string>& traceLines);

}  // namespace tessaro::testing

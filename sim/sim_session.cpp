#include "sim/sim_session.h"

#include <cstdio>

#include "sim/sim_backends.h"
#include "sim/state_files.h"

namespace tessaro::sim {
namespace {

// "out " and the report as hex: report ID 0x0E, register access 0x20, and
// the more-follows flag 0x01 in byte 2.
bool IsWriteReportWithMoreToCome(const std::string& line) { return line.compare(0, 10, "out 0e2001") == 0; }

}  // namespace

Session::Session(uint16_t buildVendorId) : buildVendorId_(buildVendorId), state_(FactoryState(buildVendorId)) {}

void Session::Begin() {
  if (begun()) return;
  std::string error;
  if (!LoadStateFiles(state_, flash_, error)) throw StateFileError(error);
  controller_ = std::make_unique<Controller>(state_, flash_, [this](const std::string& line) { Trace(line); });

  trace_.open(kTraceFileName, std::ios::binary | std::ios::trunc);
  if (!trace_.is_open()) {
    traceFailed_ = true;
    std::fprintf(stderr, "%s: cannot be written\n", kTraceFileName);
  }
  for (const std::string& line : earlyLines_) WriteTraceLine(line);
  earlyLines_.clear();
}

void Session::Trace(const std::string& line) {
  if (!begun()) {
    earlyLines_.push_back(line);
    return;
  }
  WriteTraceLine(line);
}

void Session::WriteTraceLine(const std::string& line) {
  if (traceFailed_) return;
  // Flushed at every event but the reports of a register write that has more
  // to come: a 4096-byte write is 75 reports, and a system call for each
  // would cost more than all the tool's own work. So the file is whole
  // whenever no write is under way, and a run that ends abruptly loses at
  // most the reports of the write it was in the middle of.
  trace_ << line << '\n';
  if (!IsWriteReportWithMoreToCome(line)) trace_.flush();
  if (trace_.fail()) {
    traceFailed_ = true;
    std::fprintf(stderr, "%s: cannot be written\n", kTraceFileName);
  }
}

void Session::Save() {
  if (!begun()) return;
  std::string error;
  if (!SaveStateFiles(state_, flash_, buildVendorId_, error)) std::fprintf(stderr, "%s\n", error.c_str());
}

}  // namespace tessaro::sim

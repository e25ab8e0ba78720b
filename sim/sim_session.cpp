#include "sim/sim_session.h"

#include <cstdio>

#include "sim/sim_backends.h"
#include "sim/state_files.h"

namespace tessaro::sim {

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
  // Flushed line by line: a run that ends abruptly still leaves every event
  // up to its end.
  trace_ << line << '\n' << std::flush;
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

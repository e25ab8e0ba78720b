#include "sim/sim_session.h"

#include <cstdio>

#include "sim/sim_backends.h"
#include "sim/state_files.h"

namespace tessaro::sim {

Session::Session(uint16_t buildVendorId)
    : buildVendorId_(buildVendorId), state_(FactoryState(buildVendorId)), trace_(kTraceFileName) {}

void Session::Begin() {
  if (begun()) return;
  std::string error;
  if (!LoadStateFiles(state_, flash_, error)) throw StateFileError(error);
  controller_ = std::make_unique<Controller>(state_, flash_, [this](const std::string& line) { Trace(line); });

  trace_.Open();
  for (const std::string& line : earlyLines_) trace_.Write(line);
  earlyLines_.clear();
}

void Session::Trace(const std::string& line) {
  if (!begun()) {
    earlyLines_.push_back(line);
    return;
  }
  trace_.Write(line);
}

void Session::Save() {
  if (!begun()) return;
  std::string error;
  if (!SaveStateFiles(state_, flash_, buildVendorId_, error)) std::fprintf(stderr, "%s\n", error.c_str());
}

}  // namespace tessaro::sim

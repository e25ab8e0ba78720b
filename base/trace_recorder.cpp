#include "base/trace_recorder.h"

#include <cstdlib>

namespace tessaro {

std::unique_ptr<HidWalk> TracingHid::BeginWalk() {
  // After the call, as the simulator writes it once its state is loaded.
  std::unique_ptr<HidWalk> walk = inner_.BeginWalk();
  recorder_.HidEvent(trace::Walk());
  return walk;
}

bool TracingHid::Open(const HidInterface& interface, HidHandle& out) {
  if (!inner_.Open(interface, out)) return false;
  paths_[out] = interface.path;
  recorder_.HidEvent(trace::Open(interface.path));
  return true;
}

bool TracingHid::SetOutputReport(HidHandle handle, const Report& report) {
  const bool delivered = inner_.SetOutputReport(handle, report);
  recorder_.HidEvent(trace::Out(report, kReportLengthBytes, delivered));
  return delivered;
}

bool TracingHid::GetInputReport(HidHandle handle, Report& report) {
  const bool fetched = inner_.GetInputReport(handle, report);
  recorder_.HidEvent(fetched ? trace::In(report, kReportLengthBytes) : trace::InFailed());
  return fetched;
}

void TracingHid::Close(HidHandle handle) {
  const auto it = paths_.find(handle);
  if (it != paths_.end()) {
    recorder_.HidEvent(trace::Close(it->second));
    paths_.erase(it);
  }
  inner_.Close(handle);
}

void TracingClock::SleepMs(uint32_t sleepMs) {
  // Before the sleep, so that a run stopped in a long wait shows it.
  recorder_.Sleep(trace::Sleep(sleepMs));
  inner_.SleepMs(sleepMs);
}

TraceRecorder::TraceRecorder(std::string path)
    : file_(std::move(path)),
      hid_(TheHid(), *this),
      clock_(TheClock(), *this),
      installedHid_(&hid_),
      installedClock_(&clock_) {}

void TraceRecorder::HidEvent(const std::string& line) {
  if (!hidUsed_) {
    hidUsed_ = true;
    for (const std::string& held : heldSleeps_) file_.Write(held);
    heldSleeps_.clear();
  }
  file_.Write(line);
}

void TraceRecorder::Sleep(const std::string& line) {
  if (hidUsed_) {
    file_.Write(line);
  } else {
    heldSleeps_.push_back(line);
  }
}

std::unique_ptr<TraceRecorder> TraceRecorderFromEnvironment() {
  const char* path = std::getenv("TESSARO_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  return std::make_unique<TraceRecorder>(path);
}

}  // namespace tessaro

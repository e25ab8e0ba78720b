#pragma once
// An update guard that records when a job opens and closes its "update in
// progress" window, with what the probe says at that moment (for instance
// how many reports had gone out).
#include <functional>
#include <string>
#include <vector>

#include "platform/update_guard.h"

namespace tessaro::testing {

class RecordingUpdateGuard final : public UpdateGuard {
 public:
  explicit RecordingUpdateGuard(std::function<std::string()> probe)
      : probe_(std::move(probe)), previous_(InstallUpdateGuard(this)) {}
  ~RecordingUpdateGuard() override { InstallUpdateGuard(previous_); }
  RecordingUpdateGuard(const RecordingUpdateGuard&) = delete;
  RecordingUpdateGuard& operator=(const RecordingUpdateGuard&) = delete;

  void Begin() override { events.push_back("begin " + probe_()); }
  void End() override { events.push_back("end " + probe_()); }

  std::vector<std::string> events;

 private:
  std::function<std::string()> probe_;
  UpdateGuard* previous_;
};

}  // namespace tessaro::testing
